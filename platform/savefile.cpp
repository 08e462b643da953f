#include "platform/savefile.h"

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
  if (buf_.empty()) buf_.resize(kBufferBytes);
  while (n > 0) {
    size_t take = std::min(n, buf_.size() - used_);
    std::memcpy(buf_.data() + used_, p, take);
    used_ += take;
    p += take;
    n -= take;
    if (used_ == buf_.size()) Flush();
  }
}

void SaveFile::Flush() {
  if (used_ == 0) return;
  file_->WriteAt(written_, buf_.data(), used_);
  written_ += used_;
  used_ = 0;
}

void SaveFile::Commit() {
  Flush();
  file_->TakeModeOf(targetPath_);
  file_->Sync();
  file_->Close();
  env_.Rename(scratchPath_, targetPath_);
  committed_ = true;
  env_.SyncDir(dir_);
}

}  // namespace velmora
