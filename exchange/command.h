#pragma once
// The command line, run without a window:
//
//   velmora                                  opens the windows
//   velmora --export vcard|csv [NAME]        entries of NAME to standard output
//   velmora --import vcard|csv FILE [NAME]   entries of FILE ("-": standard input) into NAME
//   velmora --help | --version
//   --wait SECONDS                           how long an import waits for the data folder
//
// NAME is a data file of the data folder, named without its extension and
// without regard to case; without it, the file the windows would open at
// start. An import into a NAME that does not exist makes it. An export
// writes nothing into the data folder and takes no lock. Messages go to
// standard error, one line each; the exit status is 0, 1 when the command
// failed, or 2 when the command line itself is wrong (with the usage).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/entry.h"
#include "platform/env.h"
#include "store/session.h"

namespace velmora {

struct CommandIo {
  std::function<void(std::string_view)> out;    // standard output; throws when it fails
  std::function<void(const std::string&)> err;  // one line of standard error, without its end
  ByteSource in;                                // standard input
};

// What RunCommandLine returns when the arguments ask for the windows.
inline constexpr int kStartWindows = -1;

// The data folder, made when missing if `create`; throws AppError saying
// why there is none.
using DataDirSource = std::function<std::string(bool create)>;

// args without the program's name. Start-up runs first in the data folder,
// as when the windows start, so that both agree on the files.
int RunCommandLine(const std::vector<std::string>& args, const DataDirSource& dataDir, Env& env,
                   CommandIo& io);

// The same in a data folder that is known.
int RunExchangeCommand(const std::vector<std::string>& args, const std::string& dataDir, Env& env,
                       CommandIo& io);

// The same on the process's arguments, standard streams and data folder.
int RunCommandLine(int argc, char** argv);

// The process's standard streams.
CommandIo ProcessIo();

// Makes data file NAME of a command line (UTF-8, with or without its
// extension, in any case) the session's working file; the start-up has run.
// Returns why NAME names no data file, or nothing: no file name of the data
// folder, something other than a regular file, or missing where the command
// makes no file (mayMake false) or where NAME is no name FILE NEW would take.
// `exists` tells whether the file is there.
std::optional<std::string> ChooseDataFile(Session& s, const std::string& name, bool mayMake,
                                          bool& exists);

// Makes the working file, holding no entry, unless it is there already. The
// import makes its file with its first entries instead (ImportEntries).
void MakeEmptyDataFile(Session& s);

// "1 entry", "12,345 entries".
std::string CountOf(uint64_t n, const char* one, const char* many);

// What is said of a data file that ends in part of a record (a copy cut
// short): "the last N bytes of FILE made no whole entry; " and their fate.
std::string TailText(uint64_t bytes, const std::string& fileName, const char* fate);

}  // namespace velmora
