#pragma once
// The one way the program replaces a file: the new content goes to a scratch
// file beside the target, every write checked; the scratch file is synced,
// closed and renamed over the target in one step, and the directory synced.
// A crash or a failure at any moment leaves either the old file or the new
// one, never a mix and never nothing.
//
// The folder may hold anything under any name. The scratch file is always
// one this save has just created, private to it: never opened through a
// link, never a file someone left there. A target that is a link is saved
// where the link leads, so the link stays a link (a data file kept in a
// synced folder goes on being synced).

#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace velmora {

// What a save does with a target that is a link.
enum class LinkedTarget {
  kSaveWhereItLeads,  // the user's files, which a user may keep elsewhere
  kReplaceTheLink,    // a file the program rewrites unasked: never written elsewhere
};

class SaveFile {
 public:
  // dir ends with "/"; targetPath is replaced (with kReplaceTheLink a link
  // there is replaced itself, whatever it leads to). The scratch file is
  // created beside the file replaced: as scratchName, or under a fresh name
  // like it when that name is taken by anything at all (which stays as it
  // is). Refused before anything is written:
  // - a target that is, or links to, no regular file (a folder, a device,
  //   a link to nothing): "Cannot write %s: it is not a regular file", or
  //   "Cannot write %s: it links to %s, which is not a regular file";
  // - a target this process may not write: "File access denied", as a
  //   write into it would fail.
  SaveFile(Env& env, std::string dir, const std::string& scratchName, std::string targetPath,
           LinkedTarget linked = LinkedTarget::kSaveWhereItLeads);
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
  void CreateScratch(const std::string& name);
  void Flush();

  Env& env_;
  std::string dir_;          // where the scratch file lies: the folder of the file replaced
  std::string scratchPath_;  // a file this save created
  std::string targetPath_;   // the file replaced, links followed unless replacesLink_
  bool replacesLink_ = false;
  std::unique_ptr<File> file_;
  std::vector<char> buf_;
  size_t used_ = 0;
  uint64_t written_ = 0;
  bool committed_ = false;
  bool closed_ = false;  // Close ran: the scratch file is written out, unsynced
};

}  // namespace velmora
