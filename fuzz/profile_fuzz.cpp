// Any bytes as a profile file: reading never fails or overruns, and a write
// changes the one value and nothing else.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/scratchdir.h"
#include "platform/profile.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kPath = ScratchDir() + "p.ini";
  const std::string content(reinterpret_cast<const char*>(data), size);
  std::ofstream(kPath, std::ios::binary | std::ios::trunc) << content;

  Env& env = Env::Posix();
  const std::string other = ReadProfileString(env, kPath, "filenames", "extention", "none");
  if (other.size() > 1023) std::abort();
  if (!WriteProfileString(env, kPath, "filenames", "defaultfile", "FUZZ")) std::abort();
  if (ReadProfileString(env, kPath, "filenames", "defaultfile", "none") != "FUZZ") std::abort();
  // Another key of the same section keeps its value, unless the write made
  // it: a key spelled both ways is the first one found.
  const std::string again = ReadProfileString(env, kPath, "filenames", "extention", "none");
  if (again != other) std::abort();
  return 0;
}
