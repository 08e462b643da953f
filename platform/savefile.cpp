#include "platform/savefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/ioerror.h"

namespace velmora {

namespace {
constexpr size_t kBufferBytes = 1 << 20;
constexpr int kFreshNameTries = 100;

std::string DirOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// name with six random letters or digits before its ".tmp" (or after it,
// without one): "temp.tmp" becomes "temp-k3x9qa.tmp", still a scratch name.
std::string FreshName(const std::string& name) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 random{std::random_device{}()};
  std::string tag = "-";
  for (int i = 0; i < 6; ++i) tag += kChars[random() % (sizeof kChars - 1)];
  const size_t cut = name.size() >= 4 && name.compare(name.size() - 4, 4, ".tmp") == 0
                         ? name.size() - 4
                         : name.size();
  return name.substr(0, cut) + tag + name.substr(cut);
}

}  // namespace

SaveFile::SaveFile(Env& env, std::string dir, const std::string& scratchName,
                   std::string targetPath, LinkedTarget linkedTarget)
    : env_(env) {
  const LinkEnd end = env_.FollowLinks(targetPath);
  const bool linked = end.path != targetPath;
  if (linked && linkedTarget == LinkedTarget::kReplaceTheLink) {
    // The link goes, and nothing where it led is looked at or touched.
    replacesLink_ = true;
    targetPath_ = std::move(targetPath);
    dir_ = std::move(dir);
  } else {
    // A link to nothing is refused too: where it leads may lie anywhere, and
    // nobody chose to make a file there.
    if (end.kind == FileKind::kOther || end.kind == FileKind::kFolder ||
        (linked && end.kind == FileKind::kMissing))
      throw AppError("Cannot write " + targetPath +
                     (linked ? ": it links to " + end.path + ", which" : ": it") +
                     " is not a regular file");
    targetPath_ = end.path;
    dir_ = linked ? DirOf(targetPath_) : std::move(dir);
    env_.CheckWritable(targetPath_);
  }
  CreateScratch(scratchName);
}

void SaveFile::CreateScratch(const std::string& name) {
  // Whatever holds the usual name (a scratch file a crash left, a link or a
  // pipe someone planted, a data file that happens to bear it) is neither
  // opened nor removed: a fresh name does the job.
  scratchPath_ = dir_ + name;
  for (int tries = 1;; ++tries) {
    try {
      file_ = env_.CreateNew(scratchPath_);
      return;
    } catch (const IoError& e) {
      if (e.err() != EEXIST || tries == kFreshNameTries) throw;
    }
    scratchPath_ = dir_ + FreshName(name);
  }
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
  if (!replacesLink_) file_->TakeModeOf(targetPath_);
  file_->Close();
  closed_ = true;
}

void SaveFile::Commit(bool syncDir) {
  if (!closed_) {
    Flush();
    if (!replacesLink_) file_->TakeModeOf(targetPath_);
    file_->Sync();
    file_->Close();
  }
  env_.Rename(scratchPath_, targetPath_);
  committed_ = true;
  if (syncDir) env_.SyncDir(dir_);
}

}  // namespace velmora
