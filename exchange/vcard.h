#pragma once
// vCard: the cards every address book reads and writes.
//
// Reading takes 2.1, 3.0 and 4.0 cards, several to a file, with folded
// lines, grouped properties ("item1.TEL"), quoted-printable and base64
// values with their CHARSET, and backslash escapes; and what exporters write
// beyond the standards: soft line breaks that go on on a folded line, empty
// lines anywhere (CR CR LF line ends), a CHARSET not known here (read as
// UTF-8, else Windows-1252), a card without END:VCARD. Of each card it
// keeps N (FN split at its last blank when N is missing or empty), the first
// two TEL that are not empty, and the first NOTE; everything else is passed
// over.
//
// Writing gives vCard 4.0: UTF-8, CR LF line ends, lines folded at 75 octets
// without splitting a character.

#include <optional>
#include <string>
#include <string_view>

#include "exchange/entry.h"
#include "exchange/fieldtext.h"
#include "store/contactrecord.h"

namespace velmora {

// The content lines of cards, unfolded, and where each lies in the input.
// The one place that knows the shapes lines come in: the reader takes its
// values through it, and the rewriter finds there the bytes a property
// spans, so that it never replaces less or more than the reader would read.
class VcardLines {
 public:
  explicit VcardLines(ByteSource source) : in_(std::move(source)) {}
  // The next content line into line(); false at the end of the input.
  bool Next();
  const std::string& line() const { return line_; }
  // The input's line the content line starts on, counted from 1.
  uint64_t lineNumber() const { return lineAt_; }
  // Byte offsets in the input: the line's first byte; the end of the text
  // of its last piece, where that piece's line end starts; and the end of
  // that line end. Empty lines after it lie beyond end().
  uint64_t begin() const { return begin_; }
  uint64_t textEnd() const { return textEnd_; }
  uint64_t end() const { return end_; }
  // The line ended in a soft break with nothing after it to go on with.
  bool brokenAtEnd() const { return brokenAtEnd_; }

  // The card is 2.1, which folds otherwise: set from its VERSION.
  bool v21 = false;

 private:
  BufferedInput in_;
  std::string line_;  // the content line, reused
  uint64_t lineAt_ = 0;
  uint64_t begin_ = 0, textEnd_ = 0, end_ = 0;
  bool brokenAtEnd_ = false;
};

class VcardReader : public EntryReader {
 public:
  explicit VcardReader(ByteSource source) : lines_(std::move(source)) {}
  bool Next(ExchangeEntry& entry) override;

 private:
  VcardLines lines_;
  bool begun_ = false;  // the next card's BEGIN:VCARD is read already
};

// The most bytes a card of the five texts takes: three a character, the
// property names, and the folds.
inline constexpr size_t kMaxCardBytes = 1024;

// One entry without extra text as a card at w, which has room for
// kMaxCardBytes; returns the end. The export's inner loop.
char* PutVcard(char* w, const TextsView& texts);

// One entry as a card, appended to out. The texts are the record's own,
// in the code page; extraText, the entry's extra text as plain UTF-8,
// becomes a second NOTE.
void AppendVcard(std::string& out, const TextsView& texts,
                 const std::optional<std::string>& extraText);

// The entry of the first card of one file's bytes. FormatError when the
// bytes hold no card or a malformed one.
ExchangeEntry ReadVcard(std::string_view card);

// Which of velmora's properties ReplaceVcardFields rewrites: bit f for the
// record field f (ContactRecord::Field). NAME and SURNAME are N and FN;
// PHONE1 and PHONE2 the first two TEL the reader takes; COMMENTS the first
// NOTE.
inline constexpr unsigned FieldBit(int field) { return 1u << field; }

// The card with the properties of `fields` given the values of `entry`
// (UTF-8), and every other line kept as it stands: UID, EMAIL, PHOTO,
// further TEL and NOTE, X- properties, groups, the card's version. A
// rewritten line keeps its group and parameters, bar the encoding and
// character set of the value it replaces; N keeps its components after the
// given name, and a TEL its "tel:" form. An emptied TEL goes; a property the
// card lacks is added before its END (a card cut short gets it after its
// last line, whose soft break with nothing after it goes, or before an
// AGENT whose card was never closed).
// A property spans the bytes the reader reads for it, whatever the shape of
// its lines; the rewritten one keeps the line end its last line had, and
// every other byte stays as it was. FormatError as ReadVcard.
std::string ReplaceVcardFields(std::string_view card, const ExchangeEntry& entry, unsigned fields);

}  // namespace velmora
