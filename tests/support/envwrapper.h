#pragma once
// Fake file layers derive from these wrappers, which pass every call on to
// the layer (or file) beneath, and override only the calls they change.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"

namespace velmora::testing {

class FileWrapper : public File {
 public:
  explicit FileWrapper(std::unique_ptr<File> target) : target_(std::move(target)) {}

  size_t ReadAt(uint64_t off, void* buf, size_t n) override { return target_->ReadAt(off, buf, n); }
  void WriteAt(uint64_t off, const void* buf, size_t n) override { target_->WriteAt(off, buf, n); }
  uint64_t Size() override { return target_->Size(); }
  void Truncate(uint64_t size) override { target_->Truncate(size); }
  void Sync() override { target_->Sync(); }
  void TakeModeOf(const std::string& path) override { target_->TakeModeOf(path); }
  void Close() override { target_->Close(); }

 protected:
  File& target() { return *target_; }

 private:
  std::unique_ptr<File> target_;
};

class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}

  std::unique_ptr<File> OpenExisting(const std::string& path, bool writable) override {
    return target_.OpenExisting(path, writable);
  }
  std::unique_ptr<File> CreateNew(const std::string& path) override {
    return target_.CreateNew(path);
  }
  LinkEnd FollowLinks(const std::string& path) override { return target_.FollowLinks(path); }
  std::unique_ptr<File> CreateAnonymous(const std::string& dir) override {
    return target_.CreateAnonymous(dir);
  }
  std::unique_ptr<File> OpenNoFollow(const std::string& path) override {
    return target_.OpenNoFollow(path);
  }
  std::optional<NameInfo> LookUp(const std::string& path) override { return target_.LookUp(path); }
  std::string RealPath(const std::string& path) override { return target_.RealPath(path); }
  void MakeFolder(const std::string& path) override { target_.MakeFolder(path); }
  void CheckFolderUsable(const std::string& dir) override { target_.CheckFolderUsable(dir); }
  bool FileExists(const std::string& path) override { return target_.FileExists(path); }
  FileKind KindOf(const std::string& path) override { return target_.KindOf(path); }
  void CheckWritable(const std::string& path) override { target_.CheckWritable(path); }
  std::vector<DirEntry> ListDir(const std::string& dir) override { return target_.ListDir(dir); }
  void Rename(const std::string& from, const std::string& to) override { target_.Rename(from, to); }
  void Remove(const std::string& path) override { target_.Remove(path); }
  void SyncDir(const std::string& dir) override { target_.SyncDir(dir); }
  void SyncFileSystem(const std::string& dir) override { target_.SyncFileSystem(dir); }
  std::unique_ptr<DirLock> LockDir(const std::string& dir, int waitMs) override {
    return target_.LockDir(dir, waitMs);
  }

 protected:
  Env& target() { return target_; }

 private:
  Env& target_;
};

}  // namespace velmora::testing
