#include "platform/ioerror.h"

#include <cerrno>
#include <cstring>

namespace velmora {

std::string IoError::TextFor(int code) {
  switch (code) {
    case kFileNotFound: return "File not found";
    case kInvalidFilename: return "Invalid filename";
    case kTooManyOpenFiles: return "Too many open files";
    case kAccessDenied: return "File access denied";
    case kReadBeyondEnd: return "Read beyond end of file";
    case kDiskFull: return "Disk full";
    case kInvalidNumericInput: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
  }
}

IoError::IoError(int code, std::string path, int err)
    : AppError(TextFor(code)),
      code_(code),
      err_(err),
      path_(path.empty() ? nullptr : std::make_shared<const std::string>(std::move(path))) {}

IoError::IoError(int code, std::string path, int err, const std::string& text)
    : AppError(text),
      code_(code),
      err_(err),
      path_(path.empty() ? nullptr : std::make_shared<const std::string>(std::move(path))) {}

FolderBusyError::FolderBusyError(const std::string& dir)
    : IoError(kAccessDenied, dir, EWOULDBLOCK, kFolderBusyText) {}

const std::string& IoError::path() const {
  static const std::string kNone;
  return path_ ? *path_ : kNone;
}

std::string IoError::Describe() const {
  std::string line = "I/O error " + std::to_string(code_);
  // A code outside the table has that very text already.
  if (line != what()) line += std::string(" (") + what() + ")";
  if (path_) line += " on " + *path_;
  if (err_ != 0) line += std::string(": ") + std::strerror(err_);
  return line;
}

int IoCodeFromErrno(int err) {
  switch (err) {
    case ENOENT: return IoError::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return IoError::kInvalidFilename;
    case EMFILE:
    case ENFILE: return IoError::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY: return IoError::kAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return IoError::kDiskFull;
    default: return 1000 + err;
  }
}

void ThrowIoErrorFromErrno(int err, const std::string& path) {
  if (!path.empty()) {
    if (err == EISDIR)
      throw IoError(IoCodeFromErrno(err), path, err, path + " is a folder, not a file");
    if (err == ESPIPE || err == ENXIO || err == ENODEV)
      throw IoError(IoCodeFromErrno(err), path, err, path + " is a pipe or a device, not a file");
  }
  throw IoError(IoCodeFromErrno(err), path, err);
}

}  // namespace velmora
