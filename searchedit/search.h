#pragma once
// The search of the result grid: which entries of the working file begin
// with what the user typed. Kept apart from the window so that the rule can
// be checked without one.

#include <QString>
#include <string>
#include <string_view>

namespace velmora {

// The search string: the search field's text in the code page, upper-cased
// (a to z only), trimmed, then cut to its first 20 characters.
std::string SearchKey(const QString& fieldText);

// True when the field, upper-cased, begins with the key; an empty key
// matches everything. A field shorter than the key never matches, and a
// leading blank in the field counts, because the key itself is trimmed.
bool Matches(std::string_view field, std::string_view key);

}  // namespace velmora
