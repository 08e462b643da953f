#pragma once
// Errors that end a user action. Handlers never catch them; the guard that
// runs every handler shows their text in the standard error box.

#include <stdexcept>
#include <string>

namespace velmora {

// An error whose text (UTF-8) is shown to the user as it stands.
class AppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The runtime's input/output error: a code and the text that belongs to it.
class IoError : public AppError {
 public:
  // Codes of the runtime's error table; any other code reads "I/O error %d".
  enum Code {
    kFileNotFound = 2,
    kInvalidFilename = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kReadBeyondEnd = 100,
    kDiskFull = 101,
    kInvalidNumericInput = 106,
  };

  explicit IoError(int code);
  int code() const { return code_; }

  static std::string TextFor(int code);

 private:
  int code_;
};

// Maps an errno value onto the runtime's codes. Values without a counterpart
// in the table become 1000 + errno, so they can never be mistaken for one.
int IoCodeFromErrno(int err);

[[noreturn]] void ThrowIoErrorFromErrno(int err);

}  // namespace velmora
