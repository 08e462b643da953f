#include "support/keyring.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace velmora::testing {
namespace {

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (size_t at = 0; at <= dirs.size();) {
    const size_t end = std::min(dirs.find(':', at), dirs.size());
    const std::string candidate = dirs.substr(at, end - at) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

// Whether the Secret Service's name is on the bus yet.
bool SecretsOnBus() {
  const std::string ask =
      "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
      "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null";
  FILE* p = ::popen(ask.c_str(), "r");
  if (!p) return false;
  std::string out;
  char buf[256];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  ::pclose(p);
  return out.find("boolean true") != std::string::npos;
}

}  // namespace

TestKeyring& TestKeyring::Shared() {
  static TestKeyring keyring;
  return keyring;
}

TestKeyring::TestKeyring() { Start(); }

void TestKeyring::Start() {
  for (const char* program : {"dbus-daemon", "dbus-send", "gnome-keyring-daemon"})
    if (!OnPath(program)) {
      problem_ =
          std::string("SKIPPED: ") + program + " is not installed (scripts/deps.sh installs it)";
      return;
    }
  FILE* bus = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
  char address[512] = {}, pid[32] = {};
  const bool read =
      bus && std::fgets(address, sizeof address, bus) && std::fgets(pid, sizeof pid, bus);
  if (bus) ::pclose(bus);
  if (!read) {
    problem_ = "dbus-daemon did not start a session bus";
    return;
  }
  busPid_ = std::atoi(pid);
  std::string busAddress = address;
  while (!busAddress.empty() && busAddress.back() == '\n') busAddress.pop_back();
  ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);

  // The keyring's files and control socket in the scratch folder, never
  // the user's own.
  const std::string home = dir_ / "home", run = dir_ / "run";
  std::filesystem::create_directories(home + "/.local/share");
  std::filesystem::create_directories(run);
  ::chmod(run.c_str(), 0700);
  int in[2];
  if (::pipe(in) != 0) {
    problem_ = "no pipe for gnome-keyring-daemon";
    return;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in[0], 0);
    ::close(in[0]);
    ::close(in[1]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    ::execlp("gnome-keyring-daemon", "gnome-keyring-daemon", "--foreground", "--unlock",
             "--components=secrets", nullptr);
    ::_exit(127);
  }
  ::close(in[0]);
  // The login keyring's password: made with it, and unlocked.
  const std::string password = "keyring-of-the-test";
  (void)!::write(in[1], password.data(), password.size());
  ::close(in[1]);
  keyringPid_ = child;
  for (int i = 0; i < 100; ++i) {
    if (SecretsOnBus()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  problem_ = "gnome-keyring-daemon did not offer the Secret Service within 5 seconds";
}

TestKeyring::~TestKeyring() {
  if (keyringPid_ > 0) {
    ::kill(keyringPid_, SIGTERM);
    ::waitpid(keyringPid_, nullptr, 0);
  }
  // dbus-daemon forked away from us: not our child to wait for.
  if (busPid_ > 0) ::kill(busPid_, SIGTERM);
}

}  // namespace velmora::testing
