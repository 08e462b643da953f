#include "store/session.h"

#include <utility>

#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/ioerror.h"

namespace velmora {

std::string Session::PathInProgramDir(const std::string& name) const {
  if (!IsPlainFileName(name))
    throw IoError(IoError::kInvalidFilename, ProgramDir + CodePageToUtf8(name));
  return ResolveIn(env(), ProgramDir, CodePageToUtf8(name));
}

std::string Session::WorkingFilePath() const {
  return PathInProgramDir(WorkingName + "." + WorkingExt);
}

StoreLock::StoreLock(Session& s) : s_(s) {
  if (s_.lockDepth_ == 0) {
    if (s_.onLockBusy) {
      try {
        s_.lock_ = s_.env().LockDir(s_.ProgramDir, 0);
      } catch (const FolderBusyError&) {
        std::exchange(s_.onLockBusy, nullptr)();
      }
    }
    if (!s_.lock_) s_.lock_ = s_.env().LockDir(s_.ProgramDir, s_.lockWaitMs);
  }
  ++s_.lockDepth_;
}

StoreLock::~StoreLock() {
  if (--s_.lockDepth_ == 0) s_.lock_.reset();
}

Session& TheSession() {
  static Session session;
  return session;
}

}  // namespace velmora
