#include "platform/programdir.h"

#include <climits>
#include <cstdlib>

namespace velmora {

std::string ExecutableDir() {
  char buf[PATH_MAX];
  std::string path;
  if (::realpath("/proc/self/exe", buf)) path = buf;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace velmora
