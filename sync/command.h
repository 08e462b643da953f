#pragma once
// The sync of the command line, run without a window:
//
//   velmora --sync DIR [NAME] [--prefer here|there] [--reset]
//
// NAME is a data file of the data folder, as for the export; without it,
// the file the windows would open at start. One summary line goes to
// standard error (and a line for each card that could not be read); the
// exit status is 0, or 1 with one line saying why.

#include <functional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace velmora {

// True when the first argument asks for a sync.
bool IsSyncCommand(int argc, char** argv);

// args without the program's name; err takes one line of standard error.
int RunSyncCommand(const std::vector<std::string>& args, const std::string& dataDir, Env& env,
                   const std::function<void(const std::string&)>& err);

// The same on the process's arguments, standard error and data folder.
int RunSyncCommand(int argc, char** argv);

}  // namespace velmora
