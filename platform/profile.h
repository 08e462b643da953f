#pragma once
// Profile (INI) files: "[section]" lines open a section, "key=value" lines
// give a key its value. Section and key names match without regard to case.

#include <string>

#include "platform/env.h"

namespace velmora {

// The trimmed text after the first "=" of the key's line in the section, at
// most 1023 characters; def when the file, the section or the key is missing
// or the file cannot be read. A file larger than kMaxConfigBytes is not read
// (see ProfileTooLarge), and writing to it fails.
std::string ReadProfileString(Env& env, const std::string& path, const std::string& section,
                              const std::string& key, const std::string& def);

// True when path is a regular file larger than kMaxConfigBytes.
bool ProfileTooLarge(Env& env, const std::string& path);

// Sets the key's value. An existing value is replaced in place and every other
// byte of the file is kept; a missing file, section or key is created. The
// file is replaced whole through a scratch file, so a failure leaves it as it
// was. Returns false on failure (a value holding a line break included).
bool WriteProfileString(Env& env, const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);

}  // namespace velmora
