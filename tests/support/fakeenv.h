#pragma once
// A file system for tests: the real one, with every fallible file step
// counted and one chosen step made to fail with a chosen errno. It also
// counts the files that are open, so a test can see that nothing stays open.

#include <functional>
#include <string>
#include <vector>

#include "support/envwrapper.h"

namespace velmora::testing {

class FaultEnv : public EnvWrapper {
 public:
  explicit FaultEnv(Env& base = Env::Posix()) : EnvWrapper(base) {}

  // Fails step number `step` (counted from 0 after this call) with err.
  void FailAt(int step, int err);
  // Fails every step whose name is `kind` ("create", "rename", ...).
  void FailEvery(const std::string& kind, int err);
  // Fails every step that would change a file or a folder: what a dry run
  // must never take.
  void FailEveryWrite(int err);
  void Heal();
  // Runs before each step with its name, as another process could act
  // between two steps.
  std::function<void(const std::string& kind)> beforeStep;

  int steps() const { return steps_; }
  bool fired() const { return fired_; }
  int openFiles() const { return open_; }
  // The names of the steps taken, in order.
  const std::vector<std::string>& log() const { return log_; }

  // Counts one step; throws the injected failure when it is this one.
  void Step(const char* kind);
  void FileClosed() { --open_; }

  std::unique_ptr<File> OpenExisting(const std::string& path, bool writable) override;
  std::unique_ptr<File> CreateNew(const std::string& path) override;
  std::unique_ptr<File> OpenNoFollow(const std::string& path) override;
  void MakeFolder(const std::string& path) override;
  void SyncFileSystem(const std::string& dir) override;
  LinkEnd FollowLinks(const std::string& path) override;
  std::unique_ptr<File> CreateAnonymous(const std::string& dir) override;
  void CheckWritable(const std::string& path) override;
  std::unique_ptr<DirLock> LockDir(const std::string& dir, int waitMs) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  void SyncDir(const std::string& dir) override;

 private:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> f);

  int steps_ = 0;
  int failAt_ = -1;
  int err_ = 0;
  std::string failKind_;
  bool failWrites_ = false;
  bool fired_ = false;
  int open_ = 0;
  std::vector<std::string> log_;
};

}  // namespace velmora::testing
