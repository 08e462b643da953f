#pragma once
// The code page of every stored text. Widgets hold QString; records, profile
// values and rich text hold bytes of one Windows code page, Windows-1252
// unless velmora.ini names another. Each single-byte page's tables are
// worked out once, through iconv, the first time the page is asked for.
// Two kinds of page take several bytes to a character: UTF-8 (65001), whose
// texts are their own UTF-8, and the double-byte pages of East Asia (932,
// 936, 949, 950), where a lead byte and the byte after it make one
// character. Their texts are converted a character at a time, and a cut
// never splits one.
//
// Every byte has a character, so decoding never fails: a byte the page
// leaves unassigned keeps its own value when it lies in 0x80 to 0x9F (the C1
// controls) and becomes U+F700 plus its value above that, so that it comes
// back as the same byte. A character outside the page encodes as "?".
//
// A page that holds combining marks (Windows-1258) writes a letter it lacks
// as a letter it holds plus marks, as its own writers do, and decodes such
// pairs composed again.

#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// The UTF-8 of one byte of a code page, for the writers' inner loops: one to
// three bytes, padded to four so that one fixed copy moves them.
struct Utf8Code {
  char bytes[4];
  unsigned char len;
};

class CodePage {
 public:
  static constexpr int kDefaultNumber = 1252;

  // The page of a Windows code page number; nullptr when iconv does not
  // know it, or when its lower half is not ASCII (an EBCDIC page), or when it
  // is neither UTF-8 nor of one or two bytes to a character. The page lives
  // as long as the process.
  static const CodePage* Find(int number);
  static const CodePage& Windows1252();

  static constexpr int kUtf8Number = 65001;

  int number() const { return number_; }
  // Several bytes to a character: the tables below serve ASCII only (a byte
  // above 0x7F decodes into the private block, and encodes as itself), and
  // a character is read and written whole.
  bool IsUtf8() const { return number_ == kUtf8Number; }
  // A lead byte and any byte after it are one character where the page
  // assigns the pair; ToUnicode then tells only what a byte is alone, and
  // the UTF-8 table keeps the upper half as it is, as UTF-8's does.
  bool IsDoubleByte() const { return !pairs_.empty(); }
  bool IsMultiByte() const { return IsUtf8() || IsDoubleByte(); }
  // A byte that begins a pair of a double-byte page.
  bool IsLeadByte(unsigned char b) const { return leads_[b]; }
  // True when some byte is a combining mark: Decode then composes.
  bool Combines() const { return combines_; }
  char16_t ToUnicode(unsigned char byte) const { return unicode_[byte]; }
  // The byte of a character, -1 when the page lacks it; a double-byte
  // page's pair as lead * 256 + trail.
  int FromUnicode(char32_t ch) const;
  // The bytes of one character, a letter and its marks where the page
  // composes; false (nothing appended) when the page cannot hold it.
  bool AppendChar(std::string& out, char32_t ch) const;
  // The UTF-8 of every byte, indexed by the byte.
  const Utf8Code* Utf8Codes() const { return utf8_.data(); }

  QString Decode(std::string_view bytes) const;
  std::string Encode(const QString& text) const;
  // The characters of the text the page can hold neither whole nor as a
  // letter plus marks, each once, in the order met: what Encode writes as "?".
  QString Lacking(const QString& text) const;
  // True when a cut of the text just before `at` would split a character:
  // a UTF-8 sequence or a pair, or a letter from the mark that follows it.
  bool SplitsCharacter(std::string_view text, size_t at) const {
    const auto b = static_cast<unsigned char>(text[at]);
    if (IsDoubleByte()) return SplitsPair(text, at);
    return IsUtf8() ? (b & 0xC0) == 0x80 : combines_ && QChar(unicode_[b]).isMark();
  }
  // Of a multi-byte page: the character at i, and i moved past it. A byte
  // that begins no character is one on its own (U+FFFD under UTF-8).
  char32_t NextChar(std::string_view text, size_t& i) const;
  // The same for UTF-8, inline for the search's inner loop.
  static char32_t NextUtf8Char(std::string_view s, size_t& i) {
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

 private:
  explicit CodePage(int number) : number_(number) {}
  // Fills the tables through iconv; false when the page is unusable.
  bool Build();
  bool BuildPairs(const std::vector<unsigned char>& leads);
  bool SplitsPair(std::string_view text, size_t at) const;
  // The pair's character, 0 where the page assigns none.
  char16_t PairAt(unsigned char lead, unsigned char trail) const {
    return pairs_[size_t(lead - 0x80) << 8 | trail];
  }

  int number_;
  std::array<char16_t, 256> unicode_{};  // the character of each byte
  std::array<Utf8Code, 256> utf8_{};     // the same as UTF-8
  // The upper half by character, for encoding: (character, byte), sorted.
  std::vector<std::pair<char32_t, unsigned char>> bytesByChar_;
  bool combines_ = false;  // some byte is a combining mark
  // Double-byte pages: the character of each pair whose lead is in the upper
  // half, and the code (byte or pair) of each character of the BMP, 0 where
  // none; a character of two codes has the one iconv writes.
  std::vector<char16_t> pairs_;
  std::array<bool, 256> leads_{};
  std::vector<uint16_t> codes_;
};

// The page of the stored texts: Windows-1252 until the start-up sets the
// one velmora.ini names.
const CodePage& TextCodePage();
void SetTextCodePage(const CodePage& page);

// Conversions on the stored texts' page.
QString FromCodePage(std::string_view bytes);
std::string ToCodePage(const QString& text);
// Stored texts upper-cased, and compared so, as names and sort keys are: a
// to z only, and never the second byte of a double-byte page's character,
// whatever its value.
std::string UpperCaseText(std::string_view text);
void UpperCaseTextIn(char* text, size_t n);
bool SameText(std::string_view a, std::string_view b);
// File names on disk are the UTF-8 spelling of the texts, byte by byte
// (a letter and its mark stay two characters, as the files of existing
// folders are named).
std::string CodePageToUtf8(std::string_view bytes);
std::string Utf8ToCodePage(std::string_view utf8);

// The code page a fresh installation takes for a locale name ("pl_PL.UTF-8",
// "sr_RS@latin", "C"), by its language: the single-byte page of that
// language's script, 65001 for a script no such page holds, 1252 for every
// other.
int CodePageForLocale(std::string_view locale);

}  // namespace velmora
