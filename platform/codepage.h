#pragma once
// The code page of every stored text. Widgets hold QString; records, profile
// values and rich text hold bytes of one Windows code page, Windows-1252
// unless velmora.ini names another. Each single-byte page's tables are
// worked out once, through iconv, the first time the page is asked for.
// UTF-8 (65001) is the one page of several bytes to a character: its texts
// are their own UTF-8, converted as a whole, and a cut never splits one.
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
  // know it, or when it is neither UTF-8 nor a single-byte page whose lower
  // half is ASCII (932, an EBCDIC page). The page lives as long as the
  // process.
  static const CodePage* Find(int number);
  static const CodePage& Windows1252();

  static constexpr int kUtf8Number = 65001;

  int number() const { return number_; }
  // Several bytes to a character: the tables below serve ASCII only (a byte
  // above 0x7F decodes into the private block, and encodes as itself), and
  // a character is read and written whole.
  bool IsUtf8() const { return number_ == kUtf8Number; }
  // True when some byte is a combining mark: Decode then composes.
  bool Combines() const { return combines_; }
  char16_t ToUnicode(unsigned char byte) const { return unicode_[byte]; }
  // The byte of a character, -1 when the page lacks it.
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
  // a UTF-8 sequence, or a letter from the mark that follows it.
  bool SplitsCharacter(std::string_view text, size_t at) const {
    const auto b = static_cast<unsigned char>(text[at]);
    return IsUtf8() ? (b & 0xC0) == 0x80 : combines_ && QChar(unicode_[b]).isMark();
  }

 private:
  explicit CodePage(int number) : number_(number) {}
  // Fills the tables through iconv; false when the page is unusable.
  bool Build();

  int number_;
  std::array<char16_t, 256> unicode_{};  // the character of each byte
  std::array<Utf8Code, 256> utf8_{};     // the same as UTF-8
  // The upper half by character, for encoding: (character, byte), sorted.
  std::vector<std::pair<char32_t, unsigned char>> bytesByChar_;
  bool combines_ = false;  // some byte is a combining mark
};

// The page of the stored texts: Windows-1252 until the start-up sets the
// one velmora.ini names.
const CodePage& TextCodePage();
void SetTextCodePage(const CodePage& page);

// Conversions on the stored texts' page.
QString FromCodePage(std::string_view bytes);
std::string ToCodePage(const QString& text);
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
