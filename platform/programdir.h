#pragma once
#include <string>

namespace velmora {

// The real directory of the running executable, as the file system spells
// it, ending in "/".
std::string ExecutableDir();

}  // namespace velmora
