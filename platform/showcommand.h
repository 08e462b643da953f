#pragma once
// How a program started by the launcher learns how to show its first window.
// The launcher passes the show command in the environment, so that the
// command line stays exactly what the caller built; the started program
// takes it once and removes it, so that its own children do not inherit it.

#include <cstdlib>
#include <string_view>

namespace velmora {

// Show commands for a started program's first window.
enum class ShowCommand { Normal = 1, Minimized = 2, Maximized = 3 };

inline constexpr const char* kShowCommandVariable = "APPEXEC_SHOWCMD";

// The show command passed to this process ("1", "2" or "3"; anything else,
// or nothing, is Normal). Removes the variable from the environment.
inline ShowCommand TakeShowCommand() {
  ShowCommand show = ShowCommand::Normal;
  if (const char* v = std::getenv(kShowCommandVariable)) {
    const std::string_view s(v);
    if (s == "2") show = ShowCommand::Minimized;
    if (s == "3") show = ShowCommand::Maximized;
  }
  ::unsetenv(kShowCommandVariable);
  return show;
}

}  // namespace velmora
