#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <optional>

#include <QList>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/text.h"

namespace velmora {
namespace {

const CodePage* g_textPage = nullptr;  // nullptr: Windows-1252

// Unassigned bytes above the C1 controls decode into this private block.
constexpr char32_t kUnassignedBase = 0xF700;

Utf8Code Utf8Of(char16_t c) {
  if (c < 0x80) return {{char(c)}, 1};
  if (c < 0x800) return {{char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))}, 2};
  return {{char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))}, 3};
}

// Bytes through iconv, its state flushed: the characters they stand for.
// Empty when the page leaves them unassigned; nullopt when they only begin a
// longer sequence.
std::optional<std::u32string> DecodeBytes(iconv_t cd, std::string_view bytes) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in(bytes);
  char32_t out[8];
  char* inp = in.data();
  size_t inLeft = in.size();
  char* outp = reinterpret_cast<char*>(out);
  size_t outLeft = sizeof out;
  if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == size_t(-1)) {
    if (errno == EINVAL) return std::nullopt;
    return std::u32string();
  }
  // A page that composes (Vietnamese) holds a letter back for its accent.
  iconv(cd, nullptr, nullptr, &outp, &outLeft);
  return std::u32string(out, size_t(reinterpret_cast<char32_t*>(outp) - out));
}

// The code (a byte, or lead * 256 + trail) iconv writes for a character;
// 0 when it writes none, or more than two bytes.
uint16_t EncodedCode(iconv_t cd, char32_t c) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* inp = reinterpret_cast<char*>(&c);
  size_t inLeft = sizeof c;
  unsigned char out[4];
  char* outp = reinterpret_cast<char*>(out);
  size_t outLeft = sizeof out;
  if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == size_t(-1)) return 0;
  const size_t n = sizeof out - outLeft;
  return n == 1 ? out[0] : n == 2 ? uint16_t(out[0] << 8 | out[1]) : 0;
}

}  // namespace

bool CodePage::Build() {
  if (IsUtf8()) {
    for (int b = 0; b < 256; ++b) {
      unicode_[size_t(b)] = char16_t(b < 0x80 ? char32_t(b) : kUnassignedBase + char32_t(b));
      utf8_[size_t(b)] = {{char(b)}, 1};
    }
    return true;
  }
  const std::string name = "CP" + std::to_string(number_);
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd == iconv_t(-1)) return false;
  bool usable = true;
  std::vector<unsigned char> leads;  // bytes that only begin a character
  for (int b = 0; b < 256 && usable; ++b) {
    const char byte = char(b);
    const std::optional<std::u32string> chars = DecodeBytes(cd, std::string_view(&byte, 1));
    if (!chars && b >= 0x80) {
      // Alone, as where the pair is unassigned, a lead byte keeps its value.
      leads.push_back(static_cast<unsigned char>(b));
      leads_[size_t(b)] = true;
      unicode_[size_t(b)] = char16_t(kUnassignedBase + char32_t(b));
    } else if (!chars || chars->size() > 1 ||
               (b < 0x80 && *chars != std::u32string(1, char32_t(b))) ||
               (!chars->empty() && chars->front() > 0xFFFF)) {
      usable = false;
    } else if (chars->empty()) {
      unicode_[size_t(b)] = char16_t(b < 0xA0 ? char32_t(b) : kUnassignedBase + char32_t(b));
    } else {
      unicode_[size_t(b)] = char16_t(chars->front());
    }
  }
  iconv_close(cd);
  if (!usable) return false;
  if (!leads.empty()) return BuildPairs(leads);
  for (int b = 0; b < 256; ++b) utf8_[size_t(b)] = Utf8Of(unicode_[size_t(b)]);
  for (int b = 0x80; b < 256; ++b) {
    bytesByChar_.emplace_back(unicode_[size_t(b)], static_cast<unsigned char>(b));
    if (QChar(unicode_[size_t(b)]).isMark()) combines_ = true;
  }
  // Of two bytes for one character, the lower one encodes it.
  std::stable_sort(bytesByChar_.begin(), bytesByChar_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return true;
}

bool CodePage::BuildPairs(const std::vector<unsigned char>& leads) {
  const std::string name = "CP" + std::to_string(number_);
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  iconv_t back = iconv_open(name.c_str(), "UTF-32LE");
  bool usable = cd != iconv_t(-1) && back != iconv_t(-1);
  pairs_.assign(size_t(0x80) << 8, 0);
  codes_.assign(0x10000, 0);
  auto assign = [&](char16_t c, uint16_t code) {
    uint16_t& at = codes_[c];
    if (at == 0) {
      at = code;
    } else if (const uint16_t written = EncodedCode(back, c); written != 0) {
      at = written;
    }
  };
  for (int b = 0x80; b < 256; ++b) assign(unicode_[size_t(b)], uint16_t(b));
  for (size_t l = 0; l < leads.size() && usable; ++l) {
    for (int trail = 0; trail < 256 && usable; ++trail) {
      const char pair[2] = {char(leads[l]), char(trail)};
      const std::optional<std::u32string> chars = DecodeBytes(cd, std::string_view(pair, 2));
      usable = chars.has_value();  // a third byte: no double-byte page
      // A pair for a character of the block lone bytes decode into (950
      // puts user-defined ones there) stays two bytes of their own.
      if (!usable || chars->size() != 1 || chars->front() == 0 || chars->front() > 0xFFFF ||
          (chars->front() >= kUnassignedBase && chars->front() <= kUnassignedBase + 0xFF))
        continue;
      const auto c = char16_t(chars->front());
      pairs_[size_t(leads[l] - 0x80) << 8 | size_t(trail)] = c;
      assign(c, uint16_t(leads[l] << 8 | trail));
    }
  }
  if (cd != iconv_t(-1)) iconv_close(cd);
  if (back != iconv_t(-1)) iconv_close(back);
  for (int b = 0; b < 256; ++b) utf8_[size_t(b)] = {{char(b)}, 1};
  return usable;
}

bool CodePage::SplitsPair(std::string_view text, size_t at) const {
  size_t i = 0;
  while (i < at) NextChar(text, i);
  return i != at;
}

char32_t CodePage::NextChar(std::string_view s, size_t& i) const {
  if (IsUtf8()) return NextUtf8Char(s, i);
  const auto b = static_cast<unsigned char>(s[i]);
  if (IsDoubleByte() && b >= 0x80 && i + 1 < s.size())
    if (const char16_t c = PairAt(b, static_cast<unsigned char>(s[i + 1]))) {
      i += 2;
      return c;
    }
  ++i;
  return unicode_[b];
}

const CodePage* CodePage::Find(int number) {
  static std::mutex mutex;
  static std::map<int, std::unique_ptr<CodePage>> pages;  // nullptr: unusable
  if (number <= 0 || number > 65535) return nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  auto [at, added] = pages.try_emplace(number);
  if (added) {
    std::unique_ptr<CodePage> page(new CodePage(number));
    if (page->Build()) at->second = std::move(page);
  }
  return at->second.get();
}

const CodePage& CodePage::Windows1252() {
  static const CodePage* page = Find(kDefaultNumber);
  return *page;
}

int CodePage::FromUnicode(char32_t ch) const {
  if (ch < 0x80) return int(ch);
  if (IsUtf8()) return -1;
  if (IsDoubleByte()) return ch <= 0xFFFF && codes_[ch] != 0 ? codes_[ch] : -1;
  auto at = std::lower_bound(bytesByChar_.begin(), bytesByChar_.end(), ch,
                             [](const auto& entry, char32_t c) { return entry.first < c; });
  return at != bytesByChar_.end() && at->first == ch ? at->second : -1;
}

QString CodePage::Decode(std::string_view bytes) const {
  if (IsUtf8()) return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
  QString out;
  out.reserve(qsizetype(bytes.size()));
  if (IsDoubleByte()) {
    for (size_t i = 0; i < bytes.size();) out.append(QChar(char16_t(NextChar(bytes, i))));
    return out;
  }
  if (!combines_) {
    for (char c : bytes) out.append(QChar(ToUnicode(static_cast<unsigned char>(c))));
    return out;
  }
  // A letter and the mark after it become one character where that
  // character encodes as the same two bytes again, so that every byte still
  // comes back as it was.
  std::string again;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const QChar letter(ToUnicode(static_cast<unsigned char>(bytes[i])));
    if (i + 1 < bytes.size()) {
      const QChar mark(ToUnicode(static_cast<unsigned char>(bytes[i + 1])));
      const QString pair = QString(letter).append(mark).normalized(QString::NormalizationForm_C);
      again.clear();
      if (mark.isMark() && pair.size() == 1 && AppendChar(again, pair.front().unicode()) &&
          again == bytes.substr(i, 2)) {
        out.append(pair);
        ++i;
        continue;
      }
    }
    out.append(letter);
  }
  return out;
}

bool CodePage::AppendChar(std::string& out, char32_t ch) const {
  if (IsUtf8() && ch >= 0x80) {
    if (ch > 0x10FFFF || (ch >= 0xD800 && ch < 0xE000)) return false;
    out += QString::fromUcs4(&ch, 1).toStdString();
    return true;
  }
  if (const int code = FromUnicode(ch); code >= 0) {
    if (code > 0xFF) out.push_back(char(code >> 8));
    out.push_back(char(code));
    return true;
  }
  if (!combines_) return false;
  // The letter fully decomposed, then as much of it composed again as the
  // page holds whole ("ê" of "ễ"), the marks left over each by its own byte.
  const QList<uint> parts =
      QString::fromUcs4(&ch, 1).normalized(QString::NormalizationForm_D).toUcs4();
  for (qsizetype whole = parts.size(); whole >= 1; --whole) {
    const QList<uint> base =
        QString::fromUcs4(reinterpret_cast<const char32_t*>(parts.data()), whole)
            .normalized(QString::NormalizationForm_C)
            .toUcs4();
    if (base.size() != 1 || (whole > 1 && base.front() == ch)) continue;
    std::string bytes;
    bool held = base.front() != ch && AppendChar(bytes, char32_t(base.front()));
    for (qsizetype i = whole; held && i < parts.size(); ++i) {
      const int b = FromUnicode(char32_t(parts[i]));
      held = b >= 0;
      bytes.push_back(char(b));
    }
    if (held) {
      out += bytes;
      return true;
    }
  }
  return false;
}

std::string CodePage::Encode(const QString& text) const {
  if (IsUtf8()) return text.toStdString();  // a lone surrogate becomes U+FFFD, not "?"
  std::string out;
  out.reserve(size_t(text.size()));
  for (uint ch : text.toUcs4())
    if (!AppendChar(out, char32_t(ch))) out.push_back('?');
  return out;
}

QString CodePage::Lacking(const QString& text) const {
  QList<uint> lacking;
  std::string scratch;
  for (uint ch : text.toUcs4())
    if (!lacking.contains(ch) && !AppendChar(scratch, char32_t(ch))) lacking.append(ch);
  return QString::fromUcs4(reinterpret_cast<const char32_t*>(lacking.data()), lacking.size());
}

const CodePage& TextCodePage() { return g_textPage ? *g_textPage : CodePage::Windows1252(); }
void SetTextCodePage(const CodePage& page) { g_textPage = &page; }

QString FromCodePage(std::string_view bytes) { return TextCodePage().Decode(bytes); }
std::string ToCodePage(const QString& text) { return TextCodePage().Encode(text); }

void UpperCaseTextIn(char* text, size_t n) {
  const CodePage& page = TextCodePage();
  if (!page.IsDoubleByte()) {
    for (size_t i = 0; i < n; ++i) text[i] = UpperChar(text[i]);
    return;
  }
  const std::string_view view(text, n);
  for (size_t i = 0; i < n;) {
    const size_t at = i;
    page.NextChar(view, i);
    if (i == at + 1) text[at] = UpperChar(text[at]);
  }
}

std::string UpperCaseText(std::string_view text) {
  std::string out(text);
  UpperCaseTextIn(out.data(), out.size());
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperCaseText(a) == UpperCaseText(b);
}

std::string CodePageToUtf8(std::string_view bytes) {
  if (TextCodePage().IsUtf8()) return std::string(bytes);
  if (TextCodePage().IsDoubleByte()) return TextCodePage().Decode(bytes).toStdString();
  const Utf8Code* codes = TextCodePage().Utf8Codes();
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const Utf8Code& u = codes[static_cast<unsigned char>(c)];
    out.append(u.bytes, u.len);
  }
  return out;
}

std::string Utf8ToCodePage(std::string_view utf8) {
  if (TextCodePage().IsUtf8() && QUtf8StringView(utf8.data(), qsizetype(utf8.size())).isValidUtf8())
    return std::string(utf8);
  return ToCodePage(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

int CodePageForLocale(std::string_view locale) {
  const size_t end = locale.find_first_of("_.@-");
  const std::string_view language = locale.substr(0, end);
  const bool latin = locale.find("@latin") != std::string_view::npos;
  struct Script {
    int page;
    std::initializer_list<std::string_view> languages;
  };
  static const Script kScripts[] = {
      {1250, {"cs", "sk", "pl", "hu", "sl", "hr", "bs", "ro", "sq", "hsb", "dsb"}},
      {1251, {"ru", "uk", "be", "bg", "mk", "sr", "kk", "ky", "tt", "ba", "mn", "tg", "cv"}},
      {1253, {"el"}},
      {1254, {"tr", "az"}},
      {1255, {"he", "yi"}},
      {1256, {"ar", "fa", "ur"}},
      {1257, {"lt", "lv", "et"}},
      {1258, {"vi"}},
      {874, {"th"}},
      // Scripts no single-byte page holds: Chinese, Japanese, Korean, the
      // Indic scripts, Georgian, Armenian, Ethiopic, and those of South-East
      // Asia and Central Asia.
      {CodePage::kUtf8Number,
       {"zh", "ja", "ko", "hi", "bn", "pa", "gu", "or", "ta", "te", "kn", "ml", "si", "mr", "ne",
        "sa", "as", "ka", "hy", "am", "ti", "km", "lo", "my", "bo", "dz", "dv", "iu", "chr"}},
  };
  // Serbian is written in both alphabets; its locales name the Latin one.
  if (language == "sr" && latin) return 1250;
  for (const Script& s : kScripts)
    if (std::find(s.languages.begin(), s.languages.end(), language) != s.languages.end())
      return s.page;
  return CodePage::kDefaultNumber;
}

}  // namespace velmora
