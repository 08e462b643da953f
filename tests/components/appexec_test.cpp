#include "components/appexec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::TestDir;

// --- Logic, without a process ----------------------------------------------

TEST(AppExecLogic, CommandLineIsTheNameAndEachParameterLineAfterOneBlank) {
  struct Case {
    std::string name;
    std::vector<std::string> params;
    std::string line;
  } cases[] = {
      {"tolka.exe", {"Velmora Help"}, "tolka.exe Velmora Help"},
      {"tolka.exe", {}, "tolka.exe"},
      {"prog", {"a", "b"}, "prog a b"},
      {"prog", {""}, "prog "},
  };
  for (const Case& c : cases) {
    TAppExec launcher;
    launcher.SetExeName(c.name);
    launcher.SetExeParams(c.params);
    EXPECT_EQ(launcher.CommandLine(), c.line);
  }
  EXPECT_EQ(appexec::SplitCommandLine("  tolka.exe  Velmora Help "),
            (std::vector<std::string>{"tolka.exe", "Velmora", "Help"}));
}

TEST(AppExecLogic, ExePathLosesOneTrailingSeparatorExceptAtARoot) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\TOOLS\\", "C:\\TOOLS"},
      {"C:\\TOOLS\\\\", "C:\\TOOLS\\"},
      {"C:\\", "C:\\"},
      {"\\", "\\"},
      {"/usr/lib/", "/usr/lib"},
      {"/", "/"},
      {"D:/", "D:/"},
      {"", ""},
      {"/tmp", "/tmp"},
  };
  for (const auto& [written, read] : cases) {
    TAppExec launcher;
    launcher.SetExePath(written);
    EXPECT_EQ(launcher.ExePath(), read) << written;
  }
  // Writing the value it already has changes nothing, not even a trailing "\".
  TAppExec launcher;
  launcher.SetExePath("C:\\TOOLS\\");
  launcher.SetExePath("C:\\TOOLS");
  EXPECT_EQ(launcher.ExePath(), "C:\\TOOLS");
}

TEST(AppExecLogic, OneMessageTableForTheProcessInTheLanguageSetLast) {
  TAppExec english;
  english.SetLangType(ltEnglish);
  EXPECT_EQ(appexec::MessageFor(2), "File was not found");
  EXPECT_EQ(appexec::MessageFor(32), "No error");
  EXPECT_EQ(appexec::MessageFor(259), "No error");
  EXPECT_EQ(appexec::MessageFor(3), "Path was not found");
  EXPECT_EQ(appexec::MessageFor(21), "Application requires 32-bit extensions");
  EXPECT_EQ(appexec::MessageFor(7), "Unknown error 7");
  EXPECT_EQ(appexec::MessageFor(-5), "Unknown error -5");

  // A new launcher refills the table in French, for every launcher.
  TAppExec french;
  EXPECT_EQ(english.ErrorMessage(), "Pas d'erreur");
  EXPECT_EQ(ToCodePage(QString::fromStdString(appexec::MessageFor(2))), "Fichier non trouv\xE9");
  EXPECT_EQ(ToCodePage(QString::fromStdString(appexec::MessageFor(0))),
            "Syst\xE8me d\xE9pass\xE9 en capacit\xE9 m\xE9moire, ex\xE9"
            "cutable corrompu, ou "
            "r\xE9"
            "allocations invalides");

  english.SetLangType(ltItalian);
  EXPECT_EQ(french.ErrorMessage(), "Nessun errore");
  EXPECT_EQ(appexec::MessageFor(11),
            "File eseguibile invalido. Potrebbe non essere un'applicazione per Windows o c'e' un "
            "errore nell'immagine .EXE ");
  EXPECT_EQ(appexec::MessageFor(1), "Errore sconosciuto 1");
}

TEST(AppExecLogic, FindProgramLooksBesideTheCallerThenAlongAbsolutePathEntries) {
  TestDir caller, onPath, relative;
  auto program = [](const TestDir& dir, const std::string& name) {
    dir.Write(name, "");
    ::chmod((dir / name).c_str(), 0755);
  };
  program(caller, "both");
  program(onPath, "both");
  program(onPath, "tolka");
  program(onPath, "only.exe");
  ::mkdir((onPath / "adir").c_str(), 0755);
  const std::string pathList = "relative-dir::" + onPath.path();
  struct Case {
    std::string name;
    std::string found;  // empty: not found
    int errNo;
  } cases[] = {
      {"both", caller / "both", 0},
      {"tolka.exe", onPath / "tolka", 0},  // tried again without ".exe"
      {"TOLKA.EXE", "", 2},                // names on disk keep their case
      {"only.exe", onPath / "only.exe", 0},
      {"adir", "", 2},  // a directory is not a program
      {"missing", "", 2},
      {"", "", 2},
      {onPath / "tolka", onPath / "tolka", 0},
      {onPath / "nothing", "", 2},
      {onPath / "no-dir/nothing", "", 3},
      {onPath / "tolka/nothing", "", 3},
  };
  for (const Case& c : cases) {
    int errNo = 0;
    EXPECT_EQ(appexec::FindProgram(c.name, caller.path(), pathList, &errNo), c.found) << c.name;
    if (c.found.empty()) {
      EXPECT_EQ(errNo, c.errNo) << c.name;
    }
  }
}

TEST(AppExecLogic, FindProgramTriesBothSpellingsInAFolderAndSkipsWhatItMayNotRun) {
  const struct {
    std::vector<std::string> caller, onPath;  // "-" before a name: may not be run
    std::string found;                        // "c/name" beside the caller, "p/name" on PATH
  } cases[] = {
      {{"tolka"}, {"tolka.exe"}, "c/tolka"},        // the program's folder first
      {{"-tolka.exe", "tolka"}, {}, "c/tolka"},     // an entry's note of that name
      {{"-tolka.exe"}, {"tolka"}, "p/tolka"},       // ... and on along PATH
      {{"tolka", "tolka.exe"}, {}, "c/tolka.exe"},  // the exact name first
      {{"-tolka.exe"}, {"-tolka"}, ""},             // 5, as starting one would say
  };
  for (const auto& c : cases) {
    TestDir caller, onPath;
    for (auto [dir, names] : {std::pair{&caller, c.caller}, std::pair{&onPath, c.onPath}})
      for (const std::string& name : names) {
        const std::string plain = name.substr(name[0] == '-');
        dir->Write(plain, "#!/bin/sh\n");
        ::chmod((*dir / plain).c_str(), name[0] == '-' ? 0644 : 0755);
      }
    const std::string expected =
        c.found.empty() ? "" : (c.found[0] == 'c' ? caller : onPath) / c.found.substr(2);
    int errNo = 0;
    EXPECT_EQ(appexec::FindProgram("tolka.exe", caller.path(), onPath.path(), &errNo), expected);
    if (expected.empty()) {
      EXPECT_EQ(errNo, 5);
    }
  }
}

// --- Real processes -----------------------------------------------------------

// A temporary folder with shell scripts for the launcher to start; restores
// the working directory the launcher may change.
class AppExecRun : public ::testing::Test {
 protected:
  AppExecRun() : cwd_(::getcwd(nullptr, 0)) {}
  ~AppExecRun() override {
    if (::chdir(cwd_) != 0) ADD_FAILURE() << "working directory not restored";
    std::free(cwd_);
  }

  // A script named `name` in the folder whose body is `body`.
  std::string Script(const std::string& name, const std::string& body) {
    dir.Write(name, "#!/bin/sh\n" + body + "\n");
    ::chmod((dir / name).c_str(), 0755);
    return dir / name;
  }

  std::unique_ptr<TAppExec> Launcher(const std::string& exe, bool wait,
                                     std::vector<std::string> params = {}) {
    auto launcher = std::make_unique<TAppExec>();
    launcher->SetLangType(ltEnglish);
    launcher->SetExeName(exe);
    launcher->SetExeParams(params);
    launcher->SetWait(wait);
    return launcher;
  }

  std::string WhatFailed(TAppExec& launcher) {
    try {
      launcher.Execute();
    } catch (const EAppExecWinExec& e) {
      return e.what();
    }
    return "started";
  }

  TestDir dir;

 private:
  char* cwd_;
};

TEST_F(AppExecRun, WaitingGivesTheExitStatusWhateverItIs) {
  const std::pair<std::string, int> cases[] = {
      {"exit 0", 0}, {"exit 7", 7}, {"exit 259", 259 & 0xFF}, {"kill -TERM $$", 128 + SIGTERM}};
  for (const auto& [body, status] : cases) {
    auto launcher = Launcher(Script("status", body), true);
    launcher->Execute();
    EXPECT_EQ(launcher->ErrNo(), status) << body;
  }
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
}

TEST_F(AppExecRun, ArgumentsShowCommandAndDescriptorsReachTheProgram) {
  // A descriptor the caller holds open without close-on-exec.
  const int held = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(held, 3);
  const std::string body = "echo \"$#:$1:$2:$APPEXEC_SHOWCMD\" > " + dir / "out" +
                           "; [ -e /proc/$$/fd/" + std::to_string(held) + " ] && echo leaked >> " +
                           dir / "out";
  auto launcher = Launcher(Script("args", body), true, {"Velmora Help"});
  launcher->SetWindowState(wsMaximized);
  launcher->Execute();
  ::close(held);
  EXPECT_EQ(dir.Read("out"), "2:Velmora:Help:3\n");
}

TEST_F(AppExecRun, WithoutWaitItReturnsAtOnceAndLeavesNoChild) {
  // The program finishes only once the test lets it: a launcher that waited
  // would return after the program gave up waiting, with "out" written.
  auto launcher = Launcher(Script("slow", "for i in $(seq 200); do [ -e " + dir / "go" +
                                              " ] && break; sleep 0.05; done; echo done > " +
                                              dir / "out"),
                           false);
  launcher->Execute();
  EXPECT_FALSE(dir.Exists("out")) << "Execute waited for the program";
  EXPECT_EQ(launcher->ErrNo(), 0);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "the program is a child to reap";
  dir.Write("go", "");
  for (int i = 0; i < 500 && !dir.Exists("out"); ++i) ::usleep(20'000);
  EXPECT_EQ(dir.Read("out"), "done\n");
}

TEST_F(AppExecRun, FailuresToStartInEachLanguage) {
  Script("plain", "exit 0");
  ::chmod((dir / "plain").c_str(), 0644);
  dir.Write("garbage", std::string("\x7f"
                                   "ELF garbage",
                                   12));
  ::chmod((dir / "garbage").c_str(), 0755);
  struct Case {
    std::string exe;
    TLangType lang;
    int errNo;
    std::string text;
  } cases[] = {
      {"velmora-no-such-program.exe", ltEnglish, 2, "File was not found"},
      {"velmora-no-such-program.exe", ltFrench, 2, "Fichier non trouvé"},
      {"velmora-no-such-program.exe", ltItalian, 2, "File non trovato"},
      {dir / "no-dir/prog", ltEnglish, 3, "Path was not found"},
      {dir / "plain", ltEnglish, 5,
       "Attempt was made to dynamically link to a task, or there was a sharing or "
       "network-protection error"},
      {dir / "garbage", ltEnglish, 11,
       "Executable file was invalid. Either it was not a Windows application or there was an "
       "error in the .EXE image"},
  };
  for (const Case& c : cases) {
    auto launcher = Launcher(c.exe, true);
    launcher->SetLangType(c.lang);
    EXPECT_EQ(WhatFailed(*launcher), c.text) << c.exe;
    EXPECT_EQ(launcher->ErrNo(), c.errNo) << c.exe;
  }
}

TEST_F(AppExecRun, ACommandLineTooLongIsRefusedNotCut) {
  const std::string exe = Script("long", "touch " + dir / "ran");
  auto launcher = Launcher(exe, true, {std::string(TAppExec::kMaxCommandLine - exe.size(), 'x')});
  EXPECT_EQ(WhatFailed(*launcher), "Command line is longer than 511 characters");
  EXPECT_EQ(launcher->ErrNo(), 32);
  launcher->SetExeParams({std::string(TAppExec::kMaxCommandLine - exe.size() - 1, 'x')});
  EXPECT_EQ(WhatFailed(*launcher), "started");
  EXPECT_TRUE(dir.Exists("ran"));
}

TEST_F(AppExecRun, AProgramInTheCurrentDirectoryIsNeverStarted) {
  Script("velmora-probe", "touch " + dir / "ran");
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (".:" + path).c_str(), 1);
  auto launcher = Launcher("velmora-probe", true);
  EXPECT_EQ(WhatFailed(*launcher), "File was not found");
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_FALSE(dir.Exists("ran"));
}

TEST_F(AppExecRun, TheDirectoryChangeStaysAndAFailedOneStartsNothing) {
  TestDir other;
  const std::string exe = Script("where", "pwd > " + dir / "out");
  auto launcher = Launcher(exe, true);
  launcher->SetExePath(other.path());  // ends in "/", which is dropped
  launcher->Execute();
  EXPECT_EQ(dir.Read("out"), other.path().substr(0, other.path().size() - 1) + "\n");
  char* now = ::getcwd(nullptr, 0);
  EXPECT_EQ(std::string(now) + "/", other.path());
  std::free(now);

  launcher->SetExePath(dir / "missing");
  launcher->SetExeName(Script("never", "touch " + dir / "ran"));
  try {
    launcher->Execute();
    ADD_FAILURE() << "no error";
  } catch (const EAppExecChDir& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  EXPECT_FALSE(dir.Exists("ran"));

  launcher->SetChangeDir(false);
  launcher->SetExeName(exe);
  launcher->Execute();  // the missing path is not even tried
}

TEST_F(AppExecRun, TheCallerStaysLiveAndIdleWhileItWaits) {
  auto launcher = Launcher(Script("sleeper", "sleep 5"), true);
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(100);
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  QElapsedTimer clock;
  clock.start();
  launcher->Execute();
  const double wall = clock.elapsed() / 1000.0;
  ::getrusage(RUSAGE_SELF, &after);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                     seconds(before.ru_stime);
  EXPECT_GE(wall, 4.9);
  EXPECT_GT(ticks, 30);
  EXPECT_LT(cpu, 0.05 * wall) << cpu << " s of CPU in " << wall << " s";
}

TEST_F(AppExecRun, AnExecuteDuringTheWaitReturnsFirst) {
  auto outer = Launcher(Script("outer", "sleep 0.6"), true);
  auto inner = Launcher(Script("inner", "sleep 0.2; exit 4"), true);
  std::vector<std::string> order;
  QTimer::singleShot(100, [&] {
    inner->Execute();
    order.push_back("inner");
  });
  outer->Execute();
  order.push_back("outer");
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
  EXPECT_EQ(inner->ErrNo(), 4);
  EXPECT_EQ(outer->ErrNo(), 0);
}

}  // namespace
}  // namespace velmora
