#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <optional>

#include <QList>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

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

// One byte through iconv, its state flushed: the characters it stands for.
// Empty when the page leaves it unassigned; nullopt when it only begins a
// longer sequence (a multi-byte page).
std::optional<std::u32string> DecodeByte(iconv_t cd, unsigned char byte) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in[1] = {char(byte)};
  char32_t out[8];
  char* inp = in;
  size_t inLeft = 1;
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

}  // namespace

bool CodePage::Build() {
  const std::string name = "CP" + std::to_string(number_);
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd == iconv_t(-1)) return false;
  bool usable = true;
  for (int b = 0; b < 256 && usable; ++b) {
    const std::optional<std::u32string> chars = DecodeByte(cd, static_cast<unsigned char>(b));
    if (!chars || chars->size() > 1 || (b < 0x80 && *chars != std::u32string(1, char32_t(b))) ||
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
  for (int b = 0; b < 256; ++b) utf8_[size_t(b)] = Utf8Of(unicode_[size_t(b)]);
  for (int b = 0x80; b < 256; ++b)
    bytesByChar_.emplace_back(unicode_[size_t(b)], static_cast<unsigned char>(b));
  // Of two bytes for one character, the lower one encodes it.
  std::stable_sort(bytesByChar_.begin(), bytesByChar_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return true;
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
  auto at = std::lower_bound(bytesByChar_.begin(), bytesByChar_.end(), ch,
                             [](const auto& entry, char32_t c) { return entry.first < c; });
  return at != bytesByChar_.end() && at->first == ch ? at->second : -1;
}

QString CodePage::Decode(std::string_view bytes) const {
  QString out;
  out.reserve(qsizetype(bytes.size()));
  for (char c : bytes) out.append(QChar(ToUnicode(static_cast<unsigned char>(c))));
  return out;
}

std::string CodePage::Encode(const QString& text) const {
  std::string out;
  out.reserve(size_t(text.size()));
  for (uint ch : text.toUcs4()) {
    const int b = FromUnicode(char32_t(ch));
    out.push_back(b < 0 ? '?' : char(b));
  }
  return out;
}

const CodePage& TextCodePage() { return g_textPage ? *g_textPage : CodePage::Windows1252(); }
void SetTextCodePage(const CodePage& page) { g_textPage = &page; }

QString FromCodePage(std::string_view bytes) { return TextCodePage().Decode(bytes); }
std::string ToCodePage(const QString& text) { return TextCodePage().Encode(text); }

std::string CodePageToUtf8(std::string_view bytes) {
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
  };
  // Serbian is written in both alphabets; its locales name the Latin one.
  if (language == "sr" && latin) return 1250;
  for (const Script& s : kScripts)
    if (std::find(s.languages.begin(), s.languages.end(), language) != s.languages.end())
      return s.page;
  return CodePage::kDefaultNumber;
}

}  // namespace velmora
