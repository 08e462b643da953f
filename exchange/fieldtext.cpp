#include "exchange/fieldtext.h"

#include <QList>
#include <QString>
#include <QUtf8StringView>
#include <array>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velmora {
namespace {

// The UTF-8 of every byte of the code page, worked out once: an export
// converts every character of every entry.
const std::array<Utf8Code, 256>& Utf8Table() {
  static const std::array<Utf8Code, 256> kTable = [] {
    std::array<Utf8Code, 256> t{};
    for (int b = 0; b < 256; ++b) {
      const char16_t c = Cp1252ToUnicode(static_cast<unsigned char>(b));
      Utf8Code& u = t[size_t(b)];
      if (c < 0x80) {
        u = {{char(c)}, 1};
      } else if (c < 0x800) {
        u = {{char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))}, 2};
      } else {
        u = {{char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))}, 3};
      }
    }
    return t;
  }();
  return kTable;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Line breaks and control characters as blanks; a CR LF is one break.
bool IsControl(char32_t c) { return c < 0x20 || c == 0x7F; }

std::string ToField(std::string_view utf8, ContactRecord::Field f, ImportCounts& counts) {
  const size_t capacity = ContactRecord::kCapacity[f];
  std::string out;
  bool cut = false;
  auto put = [&](char32_t c, char32_t next) {
    if (c == '\r' && next == '\n') return true;  // the LF makes the blank
    if (out.size() == capacity) {
      cut = true;
      return false;
    }
    if (IsControl(c)) {
      out.push_back(' ');
      return true;
    }
    const int b = UnicodeToCp1252(c);
    if (b < 0) ++counts.charsReplaced;
    out.push_back(b < 0 ? '?' : char(b));
    return true;
  };
  if (IsAscii(utf8)) {
    for (size_t i = 0; i < utf8.size(); ++i)
      if (!put(static_cast<unsigned char>(utf8[i]), i + 1 < utf8.size() ? utf8[i + 1] : 0)) break;
  } else {
    // Composed first: a letter and its accent typed apart are one character
    // of the code page.
    const QList<uint> chars = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()))
                                  .normalized(QString::NormalizationForm_C)
                                  .toUcs4();
    for (qsizetype i = 0; i < chars.size(); ++i)
      if (!put(chars[i], i + 1 < chars.size() ? chars[i + 1] : 0)) break;
  }
  if (cut) ++counts.fieldsCut;
  return out;
}

}  // namespace

const Utf8Code* Utf8Codes() { return Utf8Table().data(); }

void AppendUtf8(std::string& out, std::string_view cp1252) {
  // Runs of ASCII, which most texts are wholly, go in one piece.
  const char* p = cp1252.data();
  const char* const end = p + cp1252.size();
  while (p < end) {
    const char* run = p;
    while (p < end && static_cast<unsigned char>(*p) < 0x80) ++p;
    out.append(run, size_t(p - run));
    if (p < end) {
      const Utf8Code& u = Utf8Table()[static_cast<unsigned char>(*p++)];
      out.append(u.bytes, u.len);
    }
  }
}

void AppendUtf8OrCp1252(std::string& out, std::string_view bytes) {
  if (QUtf8StringView(bytes.data(), qsizetype(bytes.size())).isValidUtf8())
    out.append(bytes);
  else
    AppendUtf8(out, bytes);
}

bool AppendDecoded(std::string& out, std::string_view bytes, std::string_view charset) {
  const std::string cs = UpperCase(charset);
  if (cs.empty() || cs == "UTF-8" || cs == "UTF8") {
    AppendUtf8OrCp1252(out, bytes);
  } else if (cs == "US-ASCII" || cs == "ASCII" || cs == "ISO-8859-1" || cs == "LATIN1" ||
             cs == "ISO_8859-1" || cs == "WINDOWS-1252" || cs == "CP1252") {
    // Latin-1 files are Windows-1252 in practice, as browsers read them.
    AppendUtf8(out, bytes);
  } else {
    return false;
  }
  return true;
}

RecordTexts ToRecordTexts(const ExchangeEntry& e, ImportCounts& counts) {
  using F = ContactRecord::Field;
  return {ToField(e.name, F::kName, counts), ToField(e.surname, F::kSurname, counts),
          ToField(e.phone1, F::kPhone1, counts), ToField(e.phone2, F::kPhone2, counts),
          ToField(e.comments, F::kComments, counts)};
}

}  // namespace velmora
