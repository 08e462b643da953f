#include "platform/filenames.h"

#include <algorithm>

#include "platform/text.h"

namespace velmora {

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string ResolveIn(Env& env, const std::string& dir, const std::string& name) {
  std::string exact = dir + name;
  if (env.FileExists(exact)) return exact;
  std::string best;
  for (const DirEntry& e : env.ListDir(dir)) {
    if (SameName(e.name, name) && (best.empty() || e.name < best)) best = e.name;
  }
  return best.empty() ? exact : dir + best;
}

}  // namespace velmora
