#pragma once
#include <string>

namespace velmora {

// The real directory of the running executable, as the file system spells
// it, ending in "/". Throws AppError when it cannot be found (a path longer
// than the system allows, a deleted executable): no other folder may stand
// in for it.
std::string ExecutableDir();
// The same for the executable that exeLink leads to ("/proc/self/exe").
std::string ExecutableDirOf(const std::string& exeLink);

// Where the address book keeps its files (data files, velmora.ini,
// temp.tmp, extra texts): the program directory when it may be written, as
// in a build tree or a copied folder; else, as when installed for all
// users, the per-user data folder $XDG_DATA_HOME/velmora (by default
// ~/.local/share/velmora), created when missing unless `create` is false.
// Ends in "/". Throws AppError, naming the folder and the reason, when there
// is no such folder to be had: a part of its path is no folder, it cannot
// be made, or neither variable is set.
std::string DataDirFor(const std::string& programDir, bool create = true);

// Whether the user's files may live in the program directory: it may be
// written, and it is not under /usr, which belongs to the system's package
// manager even for root.
bool ProgramDirWritable(const std::string& programDir);

// The rule itself: dataHome and home as the environment gives them (null
// when unset). Empty when the program directory may not be written and
// neither variable names a place.
std::string ChooseDataDir(const std::string& programDir, bool programDirWritable,
                          const char* dataHome, const char* home);

}  // namespace velmora
