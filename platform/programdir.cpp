#include "platform/programdir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/ioerror.h"

namespace velmora {

std::string ExecutableDir() { return ExecutableDirOf("/proc/self/exe"); }

std::string ExecutableDirOf(const std::string& exeLink) {
  // A relative fallback would make the current folder the program folder:
  // data files, and the help viewer that HELP starts, would come from
  // wherever the user happened to be.
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(exeLink.c_str(), nullptr),
                                                         &std::free);
  if (!real) {
    const int err = errno;
    throw AppError(std::string("The program's own folder cannot be found: ") + std::strerror(err));
  }
  const std::string path = real.get();
  return path.substr(0, path.rfind('/') + 1);
}

std::string ChooseDataDir(const std::string& programDir, bool programDirWritable,
                          const char* dataHome, const char* home) {
  if (programDirWritable) return programDir;
  // Relative values are ignored, as the base directory rules ask.
  std::string base;
  if (dataHome && dataHome[0] == '/')
    base = dataHome;
  else if (home && home[0] == '/')
    base = std::string(home) + "/.local/share";
  else
    return {};
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/velmora/";
}

bool ProgramDirWritable(const std::string& programDir) {
  return programDir.rfind("/usr/", 0) != 0 && ::access(programDir.c_str(), W_OK) == 0;
}

std::string DataDirFor(const std::string& programDir, bool create) {
  const bool writable = ProgramDirWritable(programDir);
  const std::string dir =
      ChooseDataDir(programDir, writable, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  if (dir.empty())
    throw AppError("There is no folder for the data files: the program folder " + programDir +
                   " may not be written, and neither XDG_DATA_HOME nor HOME is set");
  if (dir == programDir) return dir;
  // Each level is made private to the user when missing; one that exists
  // and is no folder (XDG_DATA_HOME naming a file) is named, as every file
  // step beneath it would fail with a misleading "Invalid filename".
  for (size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1)) {
    const std::string level = dir.substr(0, slash);
    struct stat st;
    if (::stat(level.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode))
        throw AppError("The data folder " + dir + " cannot be made: " + level +
                       " is a file, not a folder");
      continue;
    }
    if (!create) break;
    if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
      throw AppError("The data folder " + dir + " cannot be made: " + level + ": " +
                     std::strerror(errno));
  }
  return dir;
}

}  // namespace velmora
