#pragma once
// The session most store tests work in: FRIENDS.VLM in a given folder.

#include <string>

#include "store/session.h"

namespace velmora::testing {

inline void WorkOnFriendsIn(Session& s, const std::string& dir) {
  s.ProgramDir = dir;
  s.WorkingName = "FRIENDS";
  s.WorkingExt = "VLM";
}

}  // namespace velmora::testing
