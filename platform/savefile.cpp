#include "platform/savefile.h"

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {
constexpr size_t kBufferBytes = 1 << 20;
}

SaveFile::SaveFile(Env& env, std::string dir, const std::string& scratchName,
                   std::string targetPath)
    : env_(env),
      dir_(std::move(dir)),
      scratchPath_(dir_ + scratchName),
      targetPath_(std::move(targetPath)) {
  env_.CheckWritable(targetPath_);
  file_ = env_.Create(scratchPath_);
}

SaveFile::~SaveFile() {
  if (committed_) return;
  file_.reset();  // closes quietly
  try {
    env_.Remove(scratchPath_);
  } catch (...) {
    // Already gone or not removable: the target is untouched either way.
  }
}

void SaveFile::Append(const void* data, size_t n) {
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    // The buffer grows to its full size only for a file that needs it, so
    // that a small file costs no large buffer.
    if (used_ == buf_.size()) {
      if (buf_.size() < kBufferBytes)
        buf_.resize(std::min(kBufferBytes, std::max(2 * buf_.size(), used_ + n)));
      else
        Flush();
    }
    size_t take = std::min(n, buf_.size() - used_);
    std::memcpy(buf_.data() + used_, p, take);
    used_ += take;
    p += take;
    n -= take;
  }
}

void SaveFile::Flush() {
  if (used_ == 0) return;
  file_->WriteAt(written_, buf_.data(), used_);
  written_ += used_;
  used_ = 0;
}

void SaveFile::Close() {
  Flush();
  file_->TakeModeOf(targetPath_);
  file_->Close();
  closed_ = true;
}

void SaveFile::Commit(bool syncDir) {
  if (!closed_) {
    Flush();
    file_->TakeModeOf(targetPath_);
    file_->Sync();
    file_->Close();
  }
  env_.Rename(scratchPath_, targetPath_);
  committed_ = true;
  if (syncDir) env_.SyncDir(dir_);
}

}  // namespace velmora
