#include "exchange/fieldtext.h"

#include <iconv.h>

#include <cerrno>

#include <QList>
#include <QString>
#include <QUtf8StringView>
#include <array>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velmora {
namespace {

bool AppendIconv(std::string& out, std::string_view bytes, const std::string& charset) {
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  if (cd == iconv_t(-1)) return false;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buf[4096];
  while (inLeft > 0) {
    char* w = buf;
    size_t room = sizeof buf;
    const size_t done = iconv(cd, &in, &inLeft, &w, &room);
    out.append(buf, size_t(w - buf));
    if (done == size_t(-1) && errno != E2BIG) {
      // An undefined or cut-off sequence: one "?" for its first byte.
      out.push_back('?');
      ++in;
      --inLeft;
    }
  }
  char* w = buf;
  size_t room = sizeof buf;
  iconv(cd, nullptr, nullptr, &w, &room);
  out.append(buf, size_t(w - buf));
  iconv_close(cd);
  return true;
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
    const size_t before = out.size();
    if (!TextCodePage().AppendChar(out, c)) {
      ++counts.charsReplaced;
      out.push_back('?');
    }
    // A letter and its mark fit whole or not at all.
    if (out.size() > capacity) {
      out.resize(before);
      cut = true;
      return false;
    }
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

void AppendUtf8(std::string& out, std::string_view bytes) {
  if (TextCodePage().IsDoubleByte()) {
    out += CodePageToUtf8(bytes);
    return;
  }
  const Utf8Code* codes = Utf8Codes();
  // Runs of ASCII, which most texts are wholly, go in one piece.
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  while (p < end) {
    const char* run = p;
    while (p < end && static_cast<unsigned char>(*p) < 0x80) ++p;
    out.append(run, size_t(p - run));
    if (p < end) {
      const Utf8Code& u = codes[static_cast<unsigned char>(*p++)];
      out.append(u.bytes, u.len);
    }
  }
}

std::optional<RecordTexts> DecodedForWriters(const TextsView& t) {
  if (t.utf8 || !TextCodePage().IsDoubleByte()) return std::nullopt;
  return RecordTexts{CodePageToUtf8(t.name), CodePageToUtf8(t.surname), CodePageToUtf8(t.phone1),
                     CodePageToUtf8(t.phone2), CodePageToUtf8(t.comments)};
}

void AppendUtf8OrCodePage(std::string& out, std::string_view bytes) {
  if (QUtf8StringView(bytes.data(), qsizetype(bytes.size())).isValidUtf8())
    out.append(bytes);
  else
    AppendUtf8(out, bytes);
}

bool AppendDecoded(std::string& out, std::string_view bytes, std::string_view charset) {
  const std::string cs = UpperCase(charset);
  if (cs.empty() || cs == "UTF-8" || cs == "UTF8") {
    AppendUtf8OrCodePage(out, bytes);
  } else if (cs == "US-ASCII" || cs == "ASCII" || cs == "ISO-8859-1" || cs == "LATIN1" ||
             cs == "ISO_8859-1") {
    // Latin-1 files are Windows-1252 in practice, as browsers read them.
    out.append(CodePage::Windows1252().Decode(bytes).toStdString());
  } else {
    return AppendIconv(out, bytes, cs);
  }
  return true;
}

RecordTexts ToRecordTexts(const ExchangeEntry& e, ImportCounts& counts) {
  using F = ContactRecord::Field;
  return {ToField(e.name, F::kName, counts), ToField(e.surname, F::kSurname, counts),
          ToField(e.phone1, F::kPhone1, counts), ToField(e.phone2, F::kPhone2, counts),
          ToField(e.comments, F::kComments, counts)};
}

bool ShowsNothing(const RecordTexts& t) {
  return Trim(t.name + t.surname + t.phone1 + t.phone2 + t.comments).empty();
}

}  // namespace velmora
