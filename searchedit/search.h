#pragma once
// The search of the result grid: which entries of the working file begin
// with what the user typed. Kept apart from the window so that the rule can
// be checked without one.

#include <QString>
#include <string>
#include <string_view>

namespace velmora {

// The search string: the search field's text in the code page, trimmed,
// cut to its first 20 characters, and case-folded: every letter of the page
// stands for the lowest byte whose letter folds as it does (Unicode case
// folding; I and i as Turkish and Azerbaijani pair them under those
// locales). Under UTF-8 the key is the UTF-8 of the folded text, cut to 20
// characters. Only the search folds: stored texts, sort keys and file names
// keep upper-casing a to z.
std::string SearchKey(const QString& fieldText);

// True when the field, folded as the last SearchKey folded, begins with the
// key; an empty key matches everything. A field shorter than the key never
// matches, and a leading blank in the field counts, because the key itself is
// trimmed.
bool Matches(std::string_view field, std::string_view key);

}  // namespace velmora
