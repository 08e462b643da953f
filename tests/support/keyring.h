#pragma once
// A desktop keyring of the test's own: a private D-Bus session bus with
// gnome-keyring-daemon's Secret Service on it, unlocked, its files in a
// scratch folder. Both are stopped by their pid when the process ends.
//
// One for the whole process: Qt and libsecret keep their first connection
// to the session bus, so a second bus would never be seen.

#include <string>

#include "support/testdir.h"

namespace velmora::testing {

class TestKeyring {
 public:
  // Started on first use; DBUS_SESSION_BUS_ADDRESS then names its bus.
  static TestKeyring& Shared();

  // "SKIPPED: ... is not installed (scripts/deps.sh installs it)", or why
  // it did not start; empty when it runs.
  const std::string& problem() const { return problem_; }
  // The folder holding the keyring's files: what a search for a password
  // in plain text must leave out.
  const TestDir& dir() const { return dir_; }

  ~TestKeyring();

 private:
  TestKeyring();
  void Start();

  TestDir dir_;
  std::string problem_;
  int busPid_ = 0, keyringPid_ = 0;
};

}  // namespace velmora::testing
