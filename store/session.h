#pragma once
// The process-wide values of the address book, kept in one place that a test
// can set up fresh: where the files lie, which data file is being worked on,
// and the three record variables that callers fill before a store operation.
//
// ProgramDir is the file system's spelling of the program directory and ends
// in "/". WorkingName and WorkingExt are single-byte texts; on disk a name is
// spelled in UTF-8.

#include <memory>
#include <string>

#include "platform/env.h"
#include "store/contactrecord.h"

namespace velmora {

class Session {
 public:
  explicit Session(Env& env = Env::Posix()) : env_(&env) {}

  Env& env() const { return *env_; }

  std::string ProgramDir;
  std::string WorkingName;
  std::string WorkingExt;

  ContactRecord RemovedRecord;
  ContactRecord NewRecord;
  ContactRecord ScratchRecord;

  // The path of a file of the program directory, whatever the letter case of
  // the name on disk. A name that could reach outside the directory is an
  // "Invalid filename" error.
  std::string PathInProgramDir(const std::string& name) const;
  // ProgramDir + WorkingName + "." + WorkingExt.
  std::string WorkingFilePath() const;

 private:
  friend class StoreLock;
  Env* env_;
  std::unique_ptr<DirLock> lock_;  // held while lockDepth_ > 0
  int lockDepth_ = 0;
};

// Serializes the changes of every velmora process on one program directory:
// each store operation and FILE command holds the directory's lock for its
// whole length, so two instances never interleave their rewrites and an
// append never lands in a file being replaced. Holders nest: an operation
// made of others (a change and its sort, a command and its default file)
// takes the lock once, at its outset.
//
// Throws "File access denied" when another process keeps the lock for
// longer than kWaitMs; the operation then has changed nothing.
class StoreLock {
 public:
  static constexpr int kWaitMs = 3000;

  explicit StoreLock(Session& s);
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  Session& s_;
};

// The process's one session, used by the windows.
Session& TheSession();

}  // namespace velmora
