#include "searchedit/search.h"

#include "platform/codepage.h"
#include "platform/text.h"

namespace velmora {
namespace {

constexpr size_t kSearchKeyLength = 20;

}  // namespace

std::string SearchKey(const QString& fieldText) {
  std::string key = Trim(UpperCase(ToCodePage(fieldText)));
  if (key.size() > kSearchKeyLength) key.resize(kSearchKeyLength);
  return key;
}

bool Matches(std::string_view field, std::string_view key) {
  // The field's first n characters, upper-cased and trimmed, must equal the
  // key. A non-empty key starts and ends with a character above 32, so
  // trimming could only shorten the prefix and spoil the match: the rule is
  // an upper-cased prefix compare, done in place for the scan's sake.
  if (field.size() < key.size()) return false;
  // Cut to 20 after trimming, a key can end in a blank: then no trimmed
  // prefix can equal it.
  if (!key.empty() && IsTrimmed(key.back())) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (UpperChar(field[i]) != key[i]) return false;
  return true;
}

}  // namespace velmora
