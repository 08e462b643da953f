#include "searchedit/search.h"

#include <QLocale>
#include <algorithm>
#include <array>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velmora {
namespace {

constexpr size_t kSearchKeyLength = 20;

using FoldTable = std::array<char, 256>;

// Turkish and Azerbaijani pair I with dotless ı and dotted İ with i.
bool DotlessLocale() {
  const QLocale::Language l = QLocale().language();
  return l == QLocale::Turkish || l == QLocale::Azerbaijani;
}

char32_t Folded(char16_t c, bool dotless) {
  if (dotless && c == u'I') return U'\u0131';
  if (dotless && c == u'\u0130') return U'i';
  return QChar(c).toCaseFolded().unicode();
}

// Each byte of the page maps to the lowest byte whose character folds to the
// same one, so that a search compares one byte for one byte as before.
FoldTable MakeFoldTable(const CodePage& page, bool dotless) {
  FoldTable table;
  std::array<char32_t, 256> folded;
  for (int b = 0; b < 256; ++b) {
    folded[size_t(b)] = Folded(page.ToUnicode(static_cast<unsigned char>(b)), dotless);
    int first = 0;
    while (folded[size_t(first)] != folded[size_t(b)]) ++first;
    table[size_t(b)] = char(first);
  }
  return table;
}

// The table of the last key's page and locale; asking for the locale costs
// more than a record's compare, so the scan only reads it.
struct CurrentFold {
  const CodePage* page = nullptr;
  bool dotless = false;
  bool utf8 = false;  // the page's, read once a key rather than once a record
  FoldTable table{};
};

CurrentFold& Current() {
  static CurrentFold current;
  if (!current.page) {
    current.page = &TextCodePage();
    current.utf8 = current.page->IsUtf8();
    current.dotless = DotlessLocale();
    current.table = MakeFoldTable(*current.page, current.dotless);
  }
  return current;
}

const FoldTable& RefreshedFoldTable() {
  CurrentFold& current = Current();
  const CodePage& page = TextCodePage();
  const bool dotless = DotlessLocale();
  if (current.page != &page || current.dotless != dotless) {
    current.table = MakeFoldTable(page, dotless);
    current.page = &page;
    current.utf8 = page.IsUtf8();
    current.dotless = dotless;
  }
  return current.table;
}

char32_t FoldedChar(char32_t c, bool dotless) {
  if (dotless && c == U'I') return U'\u0131';
  if (dotless && c == U'\u0130') return U'i';
  return QChar::toCaseFolded(c);
}

// The character of the UTF-8 at i, i moved past it; U+FFFD for a byte that
// begins none.
char32_t NextChar(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return U'\uFFFD';
  }
  char32_t c = len == 1 ? b : b & (0x7F >> len);
  for (size_t n = 1; n < len; ++n) c = (c << 6) | (static_cast<unsigned char>(s[i + n]) & 0x3F);
  i += len;
  return c;
}

// Under UTF-8 the key is the UTF-8 of its folded characters, and a field's
// characters are folded as far as the key reaches: ASCII through the table,
// the rest one character at a time.
bool MatchesUtf8(std::string_view field, std::string_view key, const CurrentFold& fold) {
  size_t f = 0, k = 0;
  while (k < key.size()) {
    if (f >= field.size()) return false;
    const auto fb = static_cast<unsigned char>(field[f]), kb = static_cast<unsigned char>(key[k]);
    if (((fb | kb) & 0x80) == 0 && !fold.dotless) {
      if (fold.table[fb] != fold.table[kb]) return false;
      ++f, ++k;
    } else if (FoldedChar(NextChar(field, f), fold.dotless) != NextChar(key, k)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string SearchKey(const QString& fieldText) {
  const FoldTable& fold = RefreshedFoldTable();
  std::string key = Trim(ToCodePage(fieldText));
  if (TextCodePage().IsUtf8()) {
    QList<uint> chars = QString::fromStdString(key).toUcs4().mid(0, kSearchKeyLength);
    for (uint& c : chars) c = FoldedChar(c, Current().dotless);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.data()), chars.size())
        .toStdString();
  }
  for (char& c : key) c = fold[static_cast<unsigned char>(c)];
  if (key.size() > kSearchKeyLength) key.resize(kSearchKeyLength);
  return key;
}

bool Matches(std::string_view field, std::string_view key) {
  // The field's first n characters, case-folded and trimmed, must equal the
  // key. A non-empty key starts and ends with a character above 32, so
  // trimming could only shorten the prefix and spoil the match: the rule is
  // a folded prefix compare, done in place for the scan's sake.
  // Cut to 20 after trimming, a key can end in a blank: then no trimmed
  // prefix can equal it.
  if (!key.empty() && IsTrimmed(key.back())) return false;
  const CurrentFold& current = Current();
  if (current.utf8) [[unlikely]]
    return MatchesUtf8(field, key, current);
  if (field.size() < key.size()) return false;
  const FoldTable& fold = current.table;
  for (size_t i = 0; i < key.size(); ++i)
    if (fold[static_cast<unsigned char>(field[i])] != key[i]) return false;
  return true;
}

}  // namespace velmora
