#pragma once
// The process-wide values of the address book, kept in one place that a test
// can set up fresh: where the files lie, which data file is being worked on,
// and the three record variables that callers fill before a store operation.
//
// ProgramDir is the file system's spelling of the program directory and ends
// in "/". WorkingName and WorkingExt are single-byte texts; on disk a name is
// spelled in UTF-8.

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
  Env* env_;
};

// The process's one session, used by the windows.
Session& TheSession();

}  // namespace velmora
