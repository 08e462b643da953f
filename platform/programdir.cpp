#include "platform/programdir.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

std::string ExecutableDir() {
  char buf[PATH_MAX];
  std::string path;
  if (::realpath("/proc/self/exe", buf)) path = buf;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
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
    return programDir;
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
  if (create && dir != programDir) {
    // Each missing level is made private to the user; a failure shows as
    // soon as start-up writes its first file.
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1))
      ::mkdir(dir.substr(0, slash).c_str(), 0700);
  }
  return dir;
}

}  // namespace velmora
