#pragma once
// The one way the program replaces a file: the new content goes to a scratch
// file beside the target, every write checked; the scratch file is synced,
// closed and renamed over the target in one step, and the directory synced.
// A crash or a failure at any moment leaves either the old file or the new
// one, never a mix and never nothing.

#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace velmora {

class SaveFile {
 public:
  // dir ends with "/"; scratchName is created in dir; targetPath is replaced.
  // A target this process may not write is refused here, before anything
  // is written: "File access denied", as a write into it would fail.
  SaveFile(Env& env, std::string dir, const std::string& scratchName, std::string targetPath);
  // Without a successful Commit the scratch file is closed and removed and
  // the target stays as it was.
  ~SaveFile();
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  void Append(const void* data, size_t n);
  void Commit() { Commit(true); }

  // For many small files in one folder, where a sync each would cost more
  // than the writing: Close writes out and closes the scratch file without
  // syncing it; the caller makes every closed file durable at once
  // (Env::SyncFileSystem), then commits each with syncDir false and syncs
  // the folder once.
  void Close();
  void Commit(bool syncDir);

 private:
  void Flush();

  Env& env_;
  std::string dir_;
  std::string scratchPath_;
  std::string targetPath_;
  std::unique_ptr<File> file_;
  std::vector<char> buf_;
  size_t used_ = 0;
  uint64_t written_ = 0;
  bool committed_ = false;
  bool closed_ = false;  // Close ran: the scratch file is written out, unsynced
};

}  // namespace velmora
