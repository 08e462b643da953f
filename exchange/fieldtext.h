#pragma once
// Texts between the store's single-byte code page and the UTF-8 of the
// exchange formats.

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/entry.h"
#include "platform/codepage.h"
#include "store/contactrecord.h"

namespace velmora {

// The five texts of an entry as the writers take them: a record read in
// place is written without a copy.
struct TextsView {
  std::string_view name, surname, phone1, phone2, comments;
  TextsView(const RecordTexts& t)  // NOLINT: a RecordTexts is its own view
      : name(t.name),
        surname(t.surname),
        phone1(t.phone1),
        phone2(t.phone2),
        comments(t.comments) {}
  explicit TextsView(const RecordView& r)
      : name(r.Text(ContactRecord::kName)),
        surname(r.Text(ContactRecord::kSurname)),
        phone1(r.Text(ContactRecord::kPhone1)),
        phone2(r.Text(ContactRecord::kPhone2)),
        comments(r.Text(ContactRecord::kComments)) {}

  // Each text lies in a record with kSlack readable bytes after it, as in
  // the record reader's buffer; so each has at least kSlack readable bytes
  // after its field's end.
  bool slack = false;
  // The texts are UTF-8 already: a double-byte page's, decoded for the
  // writers.
  bool utf8 = false;
};

// A double-byte page's bytes are no characters one by one, as the writers'
// loops take them: its texts decoded to UTF-8, whose bytes the page's table
// keeps as they are. Nothing for the texts of any other page.
std::optional<RecordTexts> DecodedForWriters(const TextsView& texts);

// Bytes of the stored texts' code page as UTF-8, appended; every byte has
// a character.
void AppendUtf8(std::string& out, std::string_view bytes);

// The UTF-8 of each byte of the stored texts' code page, for the writers'
// inner loops.
inline const Utf8Code* Utf8Codes() { return TextCodePage().Utf8Codes(); }

inline char* PutUtf8(char* w, const Utf8Code* codes, unsigned char c) {
  std::memcpy(w, codes[c].bytes, 4);
  return w + codes[c].len;
}

// The export's inner loop spends its time here. A record with kSlack bytes
// to spare after it, as the record reader hands them out, can have its
// texts (at most 50 bytes) tested and copied a word at a time, without a
// branch per byte; only a byte needing care goes through a table.
inline constexpr size_t kSlack = 64;

// What HasAny looks for besides the bytes it is given.
enum WordTest : unsigned { kJustThese = 0, kHighBytes = 1, kControls = 2 };

// True when the n bytes at p (n at most 56, and kSlack readable bytes from
// p) hold one of B, or a byte that kAlso names: 0x80 and above, below 0x20.
template <unsigned kAlso, unsigned char... B>
inline bool HasAny(const char* p, size_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  uint64_t found = 0;
  for (size_t i = 0; i * 8 < n; ++i) {
    uint64_t x;
    std::memcpy(&x, p + i * 8, 8);
    // Past the text: a plain letter in place of whatever follows it.
    const size_t valid = std::min<size_t>(n - i * 8, 8);
    const uint64_t keep = valid == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * valid)) - 1;
    x = (x & keep) | (kOnes * 'A' & ~keep);
    if constexpr ((kAlso & kHighBytes) != 0) found |= x;
    if constexpr ((kAlso & kControls) != 0) found |= (x - kOnes * 0x20) & ~x;
    found |= (uint64_t(0) | ... | (((x ^ (kOnes * B)) - kOnes) & ~(x ^ (kOnes * B))));
  }
  return (found & kHighs) != 0;
}

// A text of at most 56 bytes at p, with kSlack readable bytes, copied to w,
// which has 56 bytes of room; returns the text's end.
inline char* CopyWithSlack(char* w, const char* p, size_t n) {
  std::memcpy(w, p, 56);
  return w + n;
}

// Whether the word-at-a-time way applies to a text of `texts`.
inline bool WordWise(const TextsView& texts, std::string_view t) {
  return std::endian::native == std::endian::little && texts.slack && t.size() <= 56;
}

inline char* Put(char* w, std::string_view bytes) {
  std::memcpy(w, bytes.data(), bytes.size());
  return w + bytes.size();
}

// Bytes of a value as UTF-8: unchanged when they are UTF-8, else read in
// the stored texts' code page, which is what such bytes nearly always are
// (spreadsheets and older address books write the code page of their
// system, and the user's is the one velmora.ini names).
void AppendUtf8OrCodePage(std::string& out, std::string_view bytes);

// Bytes in the named character set as UTF-8, appended; a byte sequence the
// set does not define becomes "?". False for a character set iconv does not
// know.
bool AppendDecoded(std::string& out, std::string_view bytes, std::string_view charset);

struct ImportCounts {
  uint64_t fieldsCut = 0;      // texts longer than their field
  uint64_t charsReplaced = 0;  // characters the code page lacks, kept as "?"
};

// The record texts of an entry: line breaks and other control characters
// become blanks (every field is one line), characters outside the code page
// "?", and each text is cut to its field.
RecordTexts ToRecordTexts(const ExchangeEntry& entry, ImportCounts& counts);

// Texts that show nothing (no name, surname, phone or comments, blanks
// aside): such an entry, an e-mail-only card, is no entry for velmora, and
// neither an import nor a sync makes one of it.
bool ShowsNothing(const RecordTexts& t);

}  // namespace velmora
