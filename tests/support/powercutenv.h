#pragma once
// A file system that loses power. It works on a real directory and keeps
// beside it what a disk would still hold after a power cut: each file's
// content as of its last sync, and the directory's names as of its last
// sync. CutAfter(n) lets n calls through; the next call and every later one
// throw PowerCut, as if the machine had stopped there. Restore() then
// rewrites the directory as it would be found after the restart: unsynced
// data gone, files created or renamed since the last directory sync
// forgotten (or back under their old names).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/envwrapper.h"

namespace velmora::testing {

// Thrown at the cut. Not a std::exception, so no handler of the program
// takes it for an I/O error.
struct PowerCut {};

class PowerCutEnv : public EnvWrapper {
 public:
  // dir ends with "/"; everything in it counts as synced.
  explicit PowerCutEnv(std::string dir);

  void CutAfter(int calls) { cutAfter_ = calls; }
  int calls() const { return calls_; }
  bool cut() const { return cutAfter_ >= 0 && calls_ > cutAfter_; }
  // The directory as the disk holds it; everything in it counts as synced.
  void Restore();

  // Counts one call; throws PowerCut from the cut on.
  void Call();
  // The file behind node `id` was synced: its content is now durable.
  void Synced(int id, std::string content) { nodes_[id] = std::move(content); }

  std::unique_ptr<File> OpenExisting(const std::string& path, bool writable) override;
  std::unique_ptr<File> CreateNew(const std::string& path) override;
  LinkEnd FollowLinks(const std::string& path) override;
  std::unique_ptr<File> CreateAnonymous(const std::string& dir) override;
  bool FileExists(const std::string& path) override;
  void CheckWritable(const std::string& path) override;
  std::unique_ptr<DirLock> LockDir(const std::string& dir, int waitMs) override;
  std::vector<DirEntry> ListDir(const std::string& dir) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  void SyncDir(const std::string& dir) override;

 private:
  void Snapshot();
  std::string NameOf(const std::string& path) const;
  std::unique_ptr<File> Wrap(std::unique_ptr<File> real, int node);

  std::string dir_;
  int calls_ = 0;
  int cutAfter_ = -1;
  int nextNode_ = 0;
  std::map<int, std::string> nodes_;    // node -> its content as of its last sync
  std::map<std::string, int> current_;  // name -> node, as the directory is now
  std::map<std::string, int> durable_;  // name -> node, as of the last directory sync
};

}  // namespace velmora::testing
