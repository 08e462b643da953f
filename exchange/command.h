#pragma once
// The import and export of the command line, run without a window:
//
//   velmora --export vcard|csv [NAME]        entries of NAME to standard output
//   velmora --import vcard|csv FILE [NAME]   entries of FILE ("-": standard input) into NAME
//
// NAME is a data file of the data folder, named without its extension and
// without regard to case; without it, the file the windows would open at
// start. An import into a NAME that does not exist makes it. Messages go to
// standard error, one line each; the exit status is 0 or 1.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/entry.h"
#include "platform/env.h"

namespace velmora {

struct CommandIo {
  std::function<void(std::string_view)> out;    // standard output; throws when it fails
  std::function<void(const std::string&)> err;  // one line of standard error, without its end
  ByteSource in;                                // standard input
};

// True when the first argument asks for an import or an export.
bool IsExchangeCommand(int argc, char** argv);

// args without the program's name. Start-up runs first in dataDir, as when
// the windows start, so that both agree on the files.
int RunExchangeCommand(const std::vector<std::string>& args, const std::string& dataDir, Env& env,
                       CommandIo& io);

// The same on the process's arguments, standard streams and data folder.
int RunExchangeCommand(int argc, char** argv);

}  // namespace velmora
