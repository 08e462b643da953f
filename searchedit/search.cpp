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
  bool multiByte = false;  // the page's, read once a key rather than once a record
  FoldTable table{};
};

CurrentFold& Current() {
  static CurrentFold current;
  if (!current.page) {
    current.page = &TextCodePage();
    current.multiByte = current.page->IsMultiByte();
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
    current.multiByte = page.IsMultiByte();
    current.dotless = dotless;
  }
  return current.table;
}

char32_t FoldedChar(char32_t c, bool dotless) {
  if (dotless && c == U'I') return U'\u0131';
  if (dotless && c == U'\u0130') return U'i';
  return QChar::toCaseFolded(c);
}

// Under a page of several bytes to a character the key is the UTF-8 of its
// folded characters, and a field's characters are folded as far as the key
// reaches: ASCII through the table, the rest one character at a time.
bool MatchesChars(std::string_view field, std::string_view key, const CurrentFold& fold) {
  const bool utf8 = fold.page->IsUtf8();
  size_t f = 0, k = 0;
  while (k < key.size()) {
    if (f >= field.size()) return false;
    const auto fb = static_cast<unsigned char>(field[f]), kb = static_cast<unsigned char>(key[k]);
    if (((fb | kb) & 0x80) == 0 && !fold.dotless) {
      if (fold.table[fb] != fold.table[kb]) return false;
      ++f, ++k;
    } else if (FoldedChar(utf8 ? CodePage::NextUtf8Char(field, f) : fold.page->NextChar(field, f),
                          fold.dotless) != CodePage::NextUtf8Char(key, k)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string SearchKey(const QString& fieldText) {
  const FoldTable& fold = RefreshedFoldTable();
  std::string key = Trim(ToCodePage(fieldText));
  if (TextCodePage().IsMultiByte()) {
    QList<uint> chars = FromCodePage(key).toUcs4().mid(0, kSearchKeyLength);
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
  if (current.multiByte) [[unlikely]]
    return MatchesChars(field, key, current);
  if (field.size() < key.size()) return false;
  const FoldTable& fold = current.table;
  for (size_t i = 0; i < key.size(); ++i)
    if (fold[static_cast<unsigned char>(field[i])] != key[i]) return false;
  return true;
}

}  // namespace velmora
