#pragma once
// Comma-separated values with a header row, as spreadsheets and address
// books write them: fields in double quotes may hold commas, quotes ("")
// and line breaks; rows end at CR LF or LF.
//
// Reading finds its columns by the header's names, without regard to case,
// blanks, "-", "_" or ".": the name from "given name", "first name" or
// "name" (a "name" with no surname column is a whole name, split at its last
// blank), the surname from "family name", "last name" or "surname", the
// phones from the first two filled of the phone columns (phone, mobile,
// home phone, work phone and their kin), the comments from "comments" or
// "notes". Other columns are passed over. Blanks around an unquoted field
// are dropped; a quoted field is taken as it stands.
//
// Writing gives the header "name,surname,phone1,phone2,comments" and one
// row per entry, in UTF-8 with CR LF line ends, a field quoted when it holds
// a comma, a quote, a line break or blanks at either end.

#include <string>
#include <vector>

#include "exchange/entry.h"
#include "exchange/fieldtext.h"
#include "store/contactrecord.h"

namespace velmora {

class CsvReader : public EntryReader {
 public:
  explicit CsvReader(ByteSource source) : in_(std::move(source)) {}
  bool Next(ExchangeEntry& entry) override;

 private:
  // The next row into fields_; false at the end. Lines with nothing on
  // them are passed over. A row of more than maxFields fields, or longer
  // than kMaxLineBytes, is a FormatError.
  bool ReadRow(size_t maxFields);
  void MapColumns();

  BufferedInput in_;
  std::vector<std::string> fields_;
  uint64_t rowAt_ = 0;
  bool mapped_ = false;
  size_t columns_ = 0;
  // Column numbers, -1 for none.
  int name_ = -1, surname_ = -1, wholeName_ = -1, comments_ = -1;
  std::vector<int> phones_;
};

void AppendCsvHeader(std::string& out);
// The most bytes a row takes: three a character, the quotes, the commas.
inline constexpr size_t kMaxCsvRowBytes = 512;

// One row of the record's texts, which are in the code page, at w, which
// has room for kMaxCsvRowBytes; returns the end.
char* PutCsvRow(char* w, const TextsView& texts);
void AppendCsvRow(std::string& out, const TextsView& texts);

}  // namespace velmora
