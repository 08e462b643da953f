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
  // The same, told in words of its own instead of the table's text, where
  // the table's would hide the cause (a folder where a file should be).
  IoError(int code, std::string path, int err, const std::string& text);
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

// Another process kept the data folder's lock for longer than the caller
// would wait. It counts as a refused access (code 5), so that whoever
// handles a failed file step handles it too, but it says what happened.
inline constexpr char kFolderBusyText[] = "The data folder is busy";
class FolderBusyError : public IoError {
 public:
  explicit FolderBusyError(const std::string& dir);
};

// What the user sees when memory runs out, instead of the runtime's name for it.
inline constexpr char kOutOfMemoryText[] = "Not enough memory";

// Maps an errno value onto the runtime's codes. Values without a counterpart
// in the table become 1000 + errno, so they can never be mistaken for one.
int IoCodeFromErrno(int err);

// Throws the IoError of err, keeping err and the path of the failed step.
// Where the path names something that is no file at all (a folder, a pipe, a
// device), the text says so and names it, as "File access denied" or
// "I/O error 1029" would not.
[[noreturn]] void ThrowIoErrorFromErrno(int err, const std::string& path = {});

}  // namespace velmora
