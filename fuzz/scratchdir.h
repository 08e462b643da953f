#pragma once
// A directory of the fuzz program's own for the files it writes: made at the
// first call, removed when the program ends, so that neither a long fuzzing
// run nor the tests' replays leave anything behind in the temporary folder.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline const std::string& ScratchDir() {
  // Never destroyed: the handler that removes the directory runs after the
  // program's static objects are gone.
  static const std::string* const kDir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-fuzz-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    auto* dir = new std::string(tmpl + "/");
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchDir(), ec);
    });
    return dir;
  }();
  return *kDir;
}
