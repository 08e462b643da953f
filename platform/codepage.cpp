#include "platform/codepage.h"
#include <QList>

namespace velmora {
namespace {

// 0x80 to 0x9F; the unassigned codes keep their own value.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char16_t Cp1252ToUnicode(unsigned char byte) {
  return (byte >= 0x80 && byte < 0xA0) ? kHigh[byte - 0x80] : char16_t(byte);
}

int UnicodeToCp1252(char32_t ch) {
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return int(ch);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == ch) return 0x80 + i;
  return -1;
}

QString FromCp1252(std::string_view bytes) {
  QString out;
  out.reserve(qsizetype(bytes.size()));
  for (char c : bytes) out.append(QChar(Cp1252ToUnicode(static_cast<unsigned char>(c))));
  return out;
}

std::string ToCp1252(const QString& text) {
  std::string out;
  out.reserve(size_t(text.size()));
  for (uint ch : text.toUcs4()) {
    int b = UnicodeToCp1252(char32_t(ch));
    out.push_back(b < 0 ? '?' : char(b));
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) { return FromCp1252(bytes).toStdString(); }

std::string Utf8ToCp1252(std::string_view utf8) {
  return ToCp1252(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

}  // namespace velmora
