#pragma once
// Errors that end a user action. Handlers never catch them; the guard that
// runs every handler shows their text in the standard error box.

#include <memory>
#include <stdexcept>
#include <string>

namespace velmora {

// An error whose text (UTF-8) is shown to the user as it stands.
class AppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The runtime's input/output error: a code and the text that belongs to it.
// The text is all the user sees; the path and the errno it came from, where
// the failed step knew them, are kept beside it for the log line.
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

  // path: the file the step was on, empty when unknown; err: the errno the
  // step failed with, 0 when it failed by a check of the program's own.
  explicit IoError(int code, std::string path = {}, int err = 0);
  int code() const { return code_; }
  const std::string& path() const;
  int err() const { return err_; }

  static std::string TextFor(int code);

  // One line for the log: the code, its text and what is known besides, as
  // "I/O error 5 (File access denied) on /path: Permission denied".
  std::string Describe() const;

 private:
  int code_;
  int err_;
  // Shared, so that copying the error (as throwing may) cannot throw.
  std::shared_ptr<const std::string> path_;
};

// Maps an errno value onto the runtime's codes. Values without a counterpart
// in the table become 1000 + errno, so they can never be mistaken for one.
int IoCodeFromErrno(int err);

// Throws the IoError of err, keeping err and the path of the failed step.
[[noreturn]] void ThrowIoErrorFromErrno(int err, const std::string& path = {});

}  // namespace velmora
