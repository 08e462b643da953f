#pragma once
// File names inside the program directory. Users and the stored data name
// files without regard to letter case ("brink.vlm" and "BRINK.VLM" are one
// file), while Linux tells them apart; every file step resolves its name here.

#include <string>
#include <string_view>

#include "platform/env.h"

namespace velmora {

// True when name is one plain file name: not empty, not "." or "..", and
// without "/" or NUL, so it can never reach outside its directory.
bool IsPlainFileName(std::string_view name);

// The path of name inside dir (which ends with "/"): an exact match first,
// then an entry equal to it without regard to the case of a to z (the first
// in byte order when several are), else dir + name for creating it.
std::string ResolveIn(Env& env, const std::string& dir, const std::string& name);

}  // namespace velmora
