#pragma once
// The process-wide values of the address book, kept in one place that a test
// can set up fresh: where the files lie, which data file is being worked on,
// and the three record variables that callers fill before a store operation.
//
// ProgramDir is the file system's spelling of the program directory and ends
// in "/". WorkingName and WorkingExt are single-byte texts; on disk a name is
// spelled in UTF-8.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "store/contactrecord.h"

namespace velmora {

class Session {
 public:
  explicit Session(Env& env = Env::Posix()) : env_(&env) {}

  Env& env() const { return *env_; }

  std::string ProgramDir;   // set once, by RunStartUp
  std::string WorkingName;  // by RunStartUp, then by the FILE commands or the command line
  std::string WorkingExt;   // set once, by RunStartUp
  // Why RunStartUp used the sample file instead of the file velmora.ini
  // names, for the user; empty when there is nothing to say (a configured
  // file that is missing is no news).
  std::string ConfigNotice;
  // Set by RunStartUp: why the code page velmora.ini names is not used,
  // for the user to read; empty when it is used or none is named.
  std::string CodePageProblem;
  // Why RunStartUp passed over the configuration, empty when it did not: the
  // windows show it in a warning box, the command line on its error output.
  std::string StartUpWarning;
  // What start-up has to tell the user, in the order it found it.
  std::vector<std::string> StartUpWarnings() const {
    std::vector<std::string> out;
    for (const std::string* w : {&StartUpWarning, &ConfigNotice, &CodePageProblem})
      if (!w->empty()) out.push_back(*w);
    return out;
  }

  // The three record buffers: a caller fills one, then calls the operation
  // that reads it. Who fills each and who reads it:
  //
  //   buffer         filled by                          read by
  //   RemovedRecord  TForm2, deleting a result row      RewriteWithout (drops its equals);
  //                  (the row's texts)                  then the handler, for the name of
  //                                                     the extra text to check
  //                  TForm2, DONE in edit mode (the     ReplaceRecord (drops its equals);
  //                  row as it stood)                   DONE, to see if the details changed
  //                  WriteSampleFile, at every start    WriteSampleFile (the bytes written)
  //                  (scratch: the sample record)
  //                  RemoveOrphanText (scratch: each    RemoveOrphanText (each one's name)
  //                  record of the file in turn)
  //   NewRecord      TForm2, DONE in add mode (the      InsertRecord (the record added)
  //                  fields as typed)
  //                  TForm2, DONE in edit mode (the     ReplaceRecord (the record put in);
  //                  fields trimmed)                    DONE, for the grid row
  //                  (no window: benchmarks, tests)     RewriteWithout with append
  //   ScratchRecord  AppendRecord, from its argument    AppendRecord (the bytes appended)
  //
  // So RemovedRecord holds the caller's record only until the next start-up
  // or orphan check: the delete reads the name back out of it before it
  // calls RemoveOrphanText. The search and the export read records in place
  // (RecordView) and an import fills records of its own: none of them
  // touches the three.
  ContactRecord RemovedRecord;  // the caller's record until its rewrite; scratch after that
  ContactRecord NewRecord;      // the record to add or put in, filled just before the call
  ContactRecord ScratchRecord;  // AppendRecord's record, meaningful only while it runs

  // How long a store operation waits for another process's lock on the
  // folder, and whom it tells, once, that it has to wait. The windows wait
  // briefly and in silence; the command line waits longer and says so.
  int lockWaitMs = kDefaultLockWaitMs;
  std::function<void()> onLockBusy;
  static constexpr int kDefaultLockWaitMs = 3000;

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
  int lockDepth_ = 0;              // StoreLocks alive on this session
};

// Serializes the changes of every velmora process on one program directory:
// each store operation and FILE command holds the directory's lock for its
// whole length, so two instances never interleave their rewrites and an
// append never lands in a file being replaced. Holders nest: an operation
// made of others (a change and its sort, a command and its default file)
// takes the lock once, at its outset.
//
// Throws FolderBusyError ("The data folder is busy") when another process
// keeps the lock for longer than the session's lockWaitMs; the operation
// then has changed nothing.
class StoreLock {
 public:
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
