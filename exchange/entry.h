#pragma once
// What the exchange formats carry of an entry, and the pieces their readers
// share. Texts here are UTF-8, as every format outside speaks it; they become
// the store's single-byte texts only on the way into a record.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ioerror.h"
#include "platform/readcaps.h"

namespace velmora {

struct ExchangeEntry {
  std::string name, surname, phone1, phone2, comments;
  bool operator==(const ExchangeEntry&) const = default;
};

// Input that is not what its format says, found at a line of the file.
class FormatError : public AppError {
 public:
  FormatError(uint64_t line, const std::string& what)
      : AppError("line " + std::to_string(line) + ": " + what), line_(line) {}
  uint64_t line() const { return line_; }

 private:
  uint64_t line_;
};

// Reads entries one at a time, so that a file of any size passes through in
// little memory. Next throws FormatError on malformed input.
class EntryReader {
 public:
  virtual ~EntryReader() = default;
  // Fills entry and returns true; false once the input is used up.
  virtual bool Next(ExchangeEntry& entry) = 0;
};

// Reads up to n bytes into buf; 0 only at the end of the input.
using ByteSource = std::function<size_t(char* buf, size_t n)>;

// Bytes of a ByteSource, a block at a time, with the number of the line
// they are on. A line ends at LF, CR LF or a lone CR.
class BufferedInput {
 public:
  explicit BufferedInput(ByteSource source);

  // The next byte, or -1 at the end.
  int Peek() {
    if (pos_ == len_ && !Refill()) return -1;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  int Get() {
    const int c = Peek();
    if (c < 0) return c;
    ++pos_;
    if (c == '\n' || (c == '\r' && Peek() != '\n')) ++line_;
    return c;
  }
  // The rest of the line, without its end, appended to `out`; false when
  // the input had ended already. Growing `out` beyond maxBytes is a
  // FormatError.
  bool ReadLine(std::string& out, size_t maxBytes);
  // The line the next byte is on, counted from 1.
  uint64_t line() const { return line_; }
  // Where the next byte is in the input, a byte order mark counted.
  uint64_t offset() const { return before_ + pos_; }
  // Where the text of the line ReadLine read last ended, before its line end.
  uint64_t textEnd() const { return textEnd_; }

 private:
  bool Refill();

  ByteSource source_;
  std::unique_ptr<char[]> buf_;
  size_t pos_ = 0, len_ = 0;
  uint64_t before_ = 0;  // the input's bytes before those in buf_
  uint64_t textEnd_ = 0;
  uint64_t line_ = 1;
  bool ended_ = false;
};

}  // namespace velmora
