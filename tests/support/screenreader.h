#pragma once
// Orca, a real screen reader, with everything it needs, on scratch folders
// of the test's own, and what it says written to a log instead of a sound
// card. The recipe, found by hand here:
//
//   1. Xvfb on a display it picks itself (-displayfd), and openbox on it:
//      without a window manager no window is ever activated, and Orca,
//      which follows the active window, says nothing at all.
//   2. A private session bus (dbus-daemon --session), and the AT-SPI bus on
//      it (at-spi-bus-launcher --launch-immediately; at-spi2-registryd is
//      started by that bus when first asked for).
//   3. speech-dispatcher in single mode (-s -t 0) on a socket of its own,
//      with a configuration folder (-C) whose only output module is
//      sd_generic with GenericExecuteSynth "printf '%s\n' \"$DATA\" >> LOG".
//      Its speech modules need a sound device; this one only a shell.
//   4. orca --replace with HOME and the XDG folders in the scratch folder
//      and SPEECHD_ADDRESS naming the socket: its default settings speak
//      through speech-dispatcher. It is ready once it has said "Screen
//      reader on.".
//   5. The programs under test with QT_ACCESSIBILITY=1 and
//      QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (Qt would otherwise ask the bus
//      whether a reader runs, and wait for none), on the xcb platform.
//   6. Keys through AT-SPI itself (Atspi.generate_keyboard_event, which the
//      registry turns into XTest events), from the Python that runs Orca:
//      it has the AT-SPI bindings whenever Orca is installed.
//
// Every process is a child of the test in a process group of its own, ended
// by its pid and group when the reader is destroyed; the children also end
// with the test should it crash.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "support/testdir.h"

namespace velmora::testing {

class ScreenReader {
 public:
  ScreenReader();
  ~ScreenReader();
  ScreenReader(const ScreenReader&) = delete;
  ScreenReader& operator=(const ScreenReader&) = delete;

  // "SKIPPED: ... is not installed (scripts/deps.sh installs it)", or why
  // a part did not start; empty when Orca listens.
  const std::string& problem() const { return problem_; }

  // Starts a program as an application Orca follows, HOME and the XDG
  // folders in the scratch folder; ended with the reader.
  pid_t Launch(const std::string& program, const std::vector<std::string>& arguments);
  // Ends one program that Launch started.
  void End(pid_t pid);
  // The scratch HOME's data folder (XDG_DATA_HOME) for the programs.
  std::string DataHome() const { return dir_ / "home/.local/share"; }

  // Presses keys one after another, each an X key name, modifiers held by
  // joining them with "+": "Down", "Control_L+End", "Alt_L+s". Pauses
  // `pause` seconds after each, for the program and the reader.
  void Press(const std::vector<std::string>& keys, double pause = 0.3);

  // A picture of the whole screen, as a person would see it, into a PNG
  // file: for a test that fails.
  void Picture(const std::string& png) const;

  // Whether the reader has said `words` since the last Forget, waiting up
  // to `seconds` for it.
  bool Hears(const std::string& words, double seconds = 10) const;
  // All it said since the last Forget, one utterance a line.
  std::string Said() const;
  // What it said so far no longer counts.
  void Forget();

 private:
  bool Start();
  // Forks `argv` in a process group of its own with `env` added to the
  // test's environment, output to `log` in the scratch folder.
  pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::string& log, int keepFd = -1);
  // Runs a script in Orca's Python on the display and the buses.
  void RunPython(const char* script, const std::vector<std::string>& arguments) const;
  std::string SpeechLog() const { return dir_ / "speech.log"; }

  TestDir dir_;
  std::string problem_;
  std::map<std::string, std::string> env_;  // for every program after the buses
  std::string python_;                      // the interpreter that runs Orca
  std::vector<pid_t> pids_;                 // in the order started
  size_t heardFrom_ = 0;                    // the log's size at the last Forget
};

}  // namespace velmora::testing
