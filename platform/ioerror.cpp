#include "platform/ioerror.h"

#include <cerrno>

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

IoError::IoError(int code) : AppError(TextFor(code)), code_(code) {}

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

void ThrowIoErrorFromErrno(int err) { throw IoError(IoCodeFromErrno(err)); }

}  // namespace velmora
