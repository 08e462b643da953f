#include "support/fakeenv.h"

#include <set>

#include "platform/ioerror.h"

namespace velmora::testing {
namespace {

class CountedFile final : public FileWrapper {
 public:
  CountedFile(FaultEnv& env, std::unique_ptr<File> f) : FileWrapper(std::move(f)), env_(env) {}
  ~CountedFile() override {
    if (open_) env_.FileClosed();
  }
  size_t ReadAt(uint64_t off, void* buf, size_t n) override {
    env_.Step("read");
    return target().ReadAt(off, buf, n);
  }
  void WriteAt(uint64_t off, const void* buf, size_t n) override {
    env_.Step("write");
    target().WriteAt(off, buf, n);
  }
  uint64_t Size() override {
    env_.Step("size");
    return target().Size();
  }
  void Truncate(uint64_t size) override {
    env_.Step("truncate");
    target().Truncate(size);
  }
  void Sync() override {
    env_.Step("sync");
    target().Sync();
  }
  void Close() override {
    if (!open_) return;
    open_ = false;
    env_.FileClosed();
    target().Close();
    env_.Step("close");  // like close(2): the file is released even when it fails
  }

 private:
  FaultEnv& env_;
  bool open_ = true;
};

}  // namespace

void FaultEnv::FailAt(int step, int err) {
  steps_ = 0;
  failAt_ = step;
  err_ = err;
  failKind_.clear();
  fired_ = false;
  log_.clear();
}

void FaultEnv::FailEvery(const std::string& kind, int err) {
  failAt_ = -1;
  failKind_ = kind;
  err_ = err;
  fired_ = false;
}

void FaultEnv::FailEveryWrite(int err) {
  Heal();
  failWrites_ = true;
  err_ = err;
  fired_ = false;
}

void FaultEnv::Heal() {
  failAt_ = -1;
  failKind_.clear();
  failWrites_ = false;
}

void FaultEnv::Step(const char* kind) {
  if (beforeStep) beforeStep(kind);
  int n = steps_++;
  log_.emplace_back(kind);
  static const std::set<std::string> kWrites = {"create", "write",   "truncate", "sync", "rename",
                                                "remove", "syncdir", "syncfs",   "mkdir"};
  if (n == failAt_ || (!failKind_.empty() && failKind_ == kind) ||
      (failWrites_ && kWrites.count(kind))) {
    fired_ = true;
    ThrowIoErrorFromErrno(err_);
  }
}

std::unique_ptr<File> FaultEnv::Wrap(std::unique_ptr<File> f) {
  ++open_;
  return std::make_unique<CountedFile>(*this, std::move(f));
}

std::unique_ptr<File> FaultEnv::OpenExisting(const std::string& path, bool writable) {
  Step("open");
  if (writable && failWrites_) {
    fired_ = true;
    ThrowIoErrorFromErrno(err_, path);
  }
  return Wrap(target().OpenExisting(path, writable));
}

std::unique_ptr<File> FaultEnv::CreateNew(const std::string& path) {
  Step("create");
  return Wrap(target().CreateNew(path));
}

std::unique_ptr<File> FaultEnv::OpenNoFollow(const std::string& path) {
  Step("open");
  return Wrap(target().OpenNoFollow(path));
}

void FaultEnv::MakeFolder(const std::string& path) {
  Step("mkdir");
  target().MakeFolder(path);
}

void FaultEnv::SyncFileSystem(const std::string& dir) {
  Step("syncfs");
  target().SyncFileSystem(dir);
}

LinkEnd FaultEnv::FollowLinks(const std::string& path) {
  Step("follow");
  return target().FollowLinks(path);
}

std::unique_ptr<File> FaultEnv::CreateAnonymous(const std::string& dir) {
  Step("create");
  return Wrap(target().CreateAnonymous(dir));
}

void FaultEnv::Rename(const std::string& from, const std::string& to) {
  Step("rename");
  target().Rename(from, to);
}

void FaultEnv::Remove(const std::string& path) {
  Step("remove");
  target().Remove(path);
}

void FaultEnv::SyncDir(const std::string& dir) {
  Step("syncdir");
  target().SyncDir(dir);
}

std::unique_ptr<DirLock> FaultEnv::LockDir(const std::string& dir, int waitMs) {
  Step("lock");
  return target().LockDir(dir, waitMs);
}

void FaultEnv::CheckWritable(const std::string& path) {
  Step("writable");
  target().CheckWritable(path);
}

}  // namespace velmora::testing
