#pragma once
// The sync of the command line, run without a window:
//
//   velmora --sync DIR [NAME] [--prefer here|there] [--reset] [--dry-run]
//                  [--allow-empty]
//   velmora --sync --account [the same options]
//
// NAME is a data file of the data folder, as for the import, and made (with
// no entry) when it does not exist; without it, the file the windows would
// open at start. A leading "~" of DIR is the home folder. --account syncs
// the account of velmora.ini with its address book, the password read from
// the desktop's keyring. A dry run prints
// what the sync would do on standard output, one line each, and writes
// nothing. One summary line goes to standard error (and a line for each
// card that could not be read); the exit status is 0, 1 with one line
// saying why, or 2 with the usage when the command line makes no sense.
// Names in these lines are quoted when they hold anything that could break
// or fake a line (QuotedName).

#include <optional>
#include <string>
#include <vector>

#include "exchange/command.h"
#include "platform/env.h"

namespace velmora {

// True when the first argument asks for a sync.
bool IsSyncCommand(int argc, char** argv);

// args without the program's name; home is $HOME, if set.
int RunSyncCommand(const std::vector<std::string>& args, const std::string& dataDir,
                   const std::optional<std::string>& home, Env& env, CommandIo& io);

// The same on the process's arguments, standard streams, home and data
// folder.
int RunSyncCommand(int argc, char** argv);

}  // namespace velmora
