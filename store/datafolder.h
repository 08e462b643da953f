#pragma once
// The names the program gives files of its own, in the data folder and in a
// synced vCard folder, and the files that go with a data file: its sync
// state, and the marker in the vCard folder that names it.
//
// A sync state describes one data file: which of its entries the last sync
// paired with which card. Left beside another file of the same name it
// would take every entry it does not find for one deleted, so it goes
// wherever its data file goes, and whatever makes a new file under a name
// first removes the state of that name. A data file without its state is
// safe: the next sync pairs by texts and deletes nothing.
//
// The state and the marker are rewritten unasked, so neither is ever
// followed where it links: a link there is refused on reading and replaced
// itself on writing.

#include <optional>
#include <string>
#include <string_view>

#include "platform/env.h"
#include "platform/ioerror.h"
#include "store/session.h"

namespace velmora {

// The configuration file.
inline constexpr char kConfigFileName[] = "velmora.ini";
// The data folder's scratch file, through which every data file is replaced.
inline constexpr char kScratchName[] = "temp.tmp";
// A data file's sync state: "." + the data file's name + this ending.
inline constexpr char kSyncStateEnding[] = ".sync";
// The file in a vCard folder that names the data file it is synced with.
inline constexpr char kVdirMarkerName[] = ".velmora-sync";
// The scratch files the sync makes in a vCard folder: prefix, anything,
// ending. Any such file is a leftover of a sync cut short.
inline constexpr std::string_view kVdirScratchPrefix = ".velmora-";
inline constexpr std::string_view kVdirScratchEnding = ".tmp";

// True when fileName is, without regard to letter case, one of the
// program's own files that no data file or extra text may be: the
// configuration file, the scratch file, the two programs under every name
// the launcher tries ("tolka" and "tolka.exe"), the help files ("hlp#..."),
// sync states and the marker. The sample file is a data file and not among
// them.
bool IsProgramFileName(std::string_view fileName);

// The sync state of the working file, beside it.
std::string SyncStatePath(const Session& s);

// Removes every state of the data file fileName (as spelled on disk; states
// of its name in any letter case go too) and makes that durable, before a
// file is made or put under that name or the file is deleted. A state that
// is a link goes as a link.
void ForgetSyncStates(Session& s, const std::string& fileName);

// Moves the state of data file `from` to data file `to` (names as spelled on
// disk) once the data file itself has been renamed; nothing when it has
// none. The caller makes the folder durable.
void MoveSyncState(Session& s, const std::string& from, const std::string& to);

// A sync that would break an existing pairing, or whose companion files
// are no files it may read or replace. Nothing has been written.
class SyncRefused : public AppError {
 public:
  using AppError::AppError;
};

// Refuses a companion file that is anything but missing or a regular file:
// a link (unless linkAllowed: it is about to be replaced itself), a folder,
// a pipe or a device. Nothing where a link leads is looked at.
void RefuseOddCompanion(Env& env, const std::string& path, bool linkAllowed);

// The marker of vdir (which ends with "/"): nullopt when there is none. A
// marker larger than any path is returned cut, so that it names no file.
// Refused as RefuseOddCompanion does.
std::optional<std::string> ReadVdirMarker(Env& env, const std::string& vdir);

// Makes the marker of vdir name dataPath, replacing a link there itself.
void WriteVdirMarker(Env& env, const std::string& vdir, const std::string& dataPath);

}  // namespace velmora
