#include "support/screenreader.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/servers.h"

extern char** environ;

namespace velmora::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The module must still open an audio output it never uses: libao's opens
// without a device, where pulse's fails and ends the dispatcher. The log's
// path is put into the module's command inside double quotes.
constexpr char kSpeechdConf[] =
    "AddModule \"log\" \"sd_generic\" \"log.conf\"\n"
    "DefaultModule log\n"
    "DefaultLanguage \"en\"\n"
    "AudioOutputMethod \"libao\"\n";
constexpr char kLogModuleConf[] =
    "GenericExecuteSynth \"printf '%s\\\\n' \\\"$DATA\\\" >> LOG\"\n"
    "GenericLanguage \"en\" \"en\" \"utf-8\"\n"
    "AddVoice \"en\" \"MALE1\" \"log\"\n";

// Presses keys through the AT-SPI registry: argv holds the pause after each
// key, then key names, each "+"-joined with the modifiers held for it. By
// key code, not by key name: the registry makes a named key with the
// modifiers that name needs, and lets go of Alt held for Alt+S.
constexpr char kPressKeys[] = R"(import ctypes, sys, time
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi
x11 = ctypes.CDLL('libX11.so.6')
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
T = Atspi.KeySynthType
pause = float(sys.argv[1])
for key in sys.argv[2:]:
    codes = [x11.XKeysymToKeycode(display, x11.XStringToKeysym(n.encode())) for n in key.split('+')]
    if 0 in codes:
        sys.exit('no such key: ' + key)
    for c in codes[:-1]:
        Atspi.generate_keyboard_event(c, None, T.PRESS)
    Atspi.generate_keyboard_event(codes[-1], None, T.PRESS)
    time.sleep(0.05)  # as long as a finger's
    Atspi.generate_keyboard_event(codes[-1], None, T.RELEASE)
    time.sleep(0.05)
    for c in reversed(codes[:-1]):
        Atspi.generate_keyboard_event(c, None, T.RELEASE)
    time.sleep(pause)
)";

constexpr char kPicture[] = R"(import sys, gi
gi.require_version('Gdk', '3.0')
from gi.repository import Gdk
root = Gdk.get_default_root_window()
Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height()).savev(
    sys.argv[1], 'png', [], [])
)";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The command a script's "#!" line names ("/usr/bin/python3", or
// "/usr/bin/env python3"); empty without one.
std::string Interpreter(const std::string& script) {
  std::string line;
  std::ifstream in(script);
  if (!std::getline(in, line) || line.rfind("#!", 0) != 0) return {};
  return line.substr(2);
}

std::string Which(const std::string& program) {
  std::string out;
  if (FILE* p = ::popen(("command -v " + program + " 2>/dev/null").c_str(), "r")) {
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// The first line a started program writes into the pipe's far end: Xvfb's
// display number, dbus-daemon's address. The pipe is closed afterwards.
std::string FirstLineOf(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  ::close(fd);
  return line;
}

template <class Ready>
bool WaitFor(double seconds, Ready ready) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (ready()) return true;
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

ScreenReader::ScreenReader() {
  if (!Start() && problem_.empty()) problem_ = "the screen reader did not start";
}

bool ScreenReader::Start() {
  for (const char* program :
       {"Xvfb", "openbox", "dbus-daemon", "dbus-send", "speech-dispatcher", "orca"})
    if (!Installed(program)) {
      problem_ =
          std::string("SKIPPED: ") + program + " is not installed (scripts/deps.sh installs it)";
      return false;
    }
  const std::string launcher = "/usr/libexec/at-spi-bus-launcher";
  if (::access(launcher.c_str(), X_OK) != 0) {
    problem_ = "SKIPPED: " + launcher + " is not installed (scripts/deps.sh installs it)";
    return false;
  }
  python_ = Interpreter(Which("orca"));
  if (python_.empty() || Shell(python_ + " -c 'import gi; gi.require_version(\"Atspi\", \"2.0\")'"
                                         " >/dev/null 2>&1") != 0) {
    problem_ = "SKIPPED: orca's Python has no AT-SPI bindings to press keys with";
    return false;
  }

  const std::string home = dir_ / "home", run = dir_ / "run";
  for (const std::string& d :
       {home + "/.local/share", home + "/.config", home + "/.cache", run, dir_ / "speechd/modules"})
    std::filesystem::create_directories(d);
  ::chmod(run.c_str(), 0700);
  env_ = {{"HOME", home},
          {"XDG_DATA_HOME", home + "/.local/share"},
          {"XDG_CONFIG_HOME", home + "/.config"},
          {"XDG_CACHE_HOME", home + "/.cache"},
          {"XDG_RUNTIME_DIR", run}};

  // 1. The display, numbered by Xvfb itself so that tests side by side
  // never meet.
  int fds[2];
  if (::pipe(fds) != 0) return false;
  Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten",
         "tcp"},
        {}, "xvfb.log", fds[1]);
  ::close(fds[1]);
  const std::string display = FirstLineOf(fds[0]);
  if (display.empty()) {
    problem_ = "Xvfb gave no display: " + ReadAll(dir_ / "xvfb.log");
    return false;
  }
  env_["DISPLAY"] = ":" + display;

  // 2. The session bus, and the AT-SPI bus on it.
  if (::pipe(fds) != 0) return false;
  Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=" + std::to_string(fds[1])}, {},
        "dbus.log", fds[1]);
  ::close(fds[1]);
  const std::string bus = FirstLineOf(fds[0]);
  if (bus.empty()) {
    problem_ = "dbus-daemon did not start a session bus";
    return false;
  }
  env_["DBUS_SESSION_BUS_ADDRESS"] = bus;
  Spawn({"openbox", "--sm-disable"}, {}, "openbox.log");
  Spawn({launcher, "--launch-immediately"}, {}, "atspi.log");
  const std::string askBus = "DBUS_SESSION_BUS_ADDRESS='" + bus +
                             "' dbus-send --session --print-reply --dest=org.a11y.Bus "
                             "/org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1";
  if (!WaitFor(10, [&] { return Shell(askBus) == 0; })) {
    problem_ = "the AT-SPI bus did not start: " + ReadAll(dir_ / "atspi.log");
    return false;
  }

  // 3. Speech into the log.
  std::string module = kLogModuleConf;
  module.replace(module.find("LOG"), 3, SpeechLog());
  std::ofstream(dir_ / "speechd/speechd.conf") << kSpeechdConf;
  std::ofstream(dir_ / "speechd/modules/log.conf") << module;
  const std::string socket = run + "/speechd.sock";
  Spawn({"speech-dispatcher", "-s", "-t", "0", "-C", dir_ / "speechd", "-c", "unix_socket", "-S",
         socket, "-L", dir_.path()},
        {}, "speechd.log");
  if (!WaitFor(10, [&] { return std::filesystem::exists(socket); })) {
    problem_ = "speech-dispatcher did not start: " + ReadAll(dir_ / "speechd.log");
    return false;
  }
  env_["SPEECHD_ADDRESS"] = "unix_socket:" + socket;

  // 4. Orca.
  Spawn({"orca", "--replace"}, {}, "orca.log");
  if (!Hears("Screen reader on.", 30)) {
    problem_ = "orca did not speak: " + ReadAll(dir_ / "orca.log");
    return false;
  }
  Forget();
  return true;
}

pid_t ScreenReader::Spawn(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env, const std::string& log,
                          int keepFd) {
  // Made before the fork: the child of a threaded process may not allocate.
  std::map<std::string, std::string> all;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const size_t eq = entry.find('=');
    if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : env_) all[name] = value;
  for (const auto& [name, value] : env) all[name] = value;
  std::vector<std::string> entries;
  for (const auto& [name, value] : all) entries.push_back(name + "=" + value);
  std::vector<char*> envp, args;
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (std::string& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);
  const std::string logPath = dir_ / log;
  const std::string cwd = dir_.path();

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::setpgid(0, 0);
    const int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != keepFd) ::close(fd);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  if (pid > 0) {
    ::setpgid(pid, pid);  // also here, so that End never finds it without its group
    pids_.push_back(pid);
  }
  return pid;
}

pid_t ScreenReader::Launch(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Spawn(argv,
               {{"QT_ACCESSIBILITY", "1"},
                {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                {"QT_QPA_PLATFORM", "xcb"}},
               std::filesystem::path(program).filename().string() + ".log");
}

void ScreenReader::End(pid_t pid) {
  // The whole group: a bus launcher's bus, a dispatcher's module.
  ::kill(-pid, SIGTERM);
  const bool ended = WaitFor(5, [&] { return ::waitpid(pid, nullptr, WNOHANG) == pid; });
  if (!ended) {
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  pids_.erase(std::remove(pids_.begin(), pids_.end(), pid), pids_.end());
}

ScreenReader::~ScreenReader() {
  // The last started first: the reader before its speech, the buses, the display.
  while (!pids_.empty()) End(pids_.back());
}

void ScreenReader::RunPython(const char* script, const std::vector<std::string>& arguments) const {
  std::string cmd;
  for (const auto& [name, value] : env_) cmd += name + "='" + value + "' ";
  cmd += python_ + " -";
  for (const std::string& a : arguments) cmd += " '" + a + "'";
  if (FILE* p = ::popen((cmd + " >>'" + (dir_ / "python.log") + "' 2>&1").c_str(), "w")) {
    std::fputs(script, p);
    ::pclose(p);
  }
}

void ScreenReader::Picture(const std::string& png) const { RunPython(kPicture, {png}); }

void ScreenReader::Press(const std::vector<std::string>& keys, double pause) {
  std::vector<std::string> arguments{std::to_string(pause)};
  arguments.insert(arguments.end(), keys.begin(), keys.end());
  RunPython(kPressKeys, arguments);
}

bool ScreenReader::Hears(const std::string& words, double seconds) const {
  return WaitFor(seconds, [&] { return Said().find(words) != std::string::npos; });
}

std::string ScreenReader::Said() const {
  const std::string all = ReadAll(SpeechLog());
  return heardFrom_ < all.size() ? all.substr(heardFrom_) : std::string();
}

void ScreenReader::Forget() { heardFrom_ = ReadAll(SpeechLog()).size(); }

}  // namespace velmora::testing
