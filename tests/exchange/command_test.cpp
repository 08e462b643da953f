// The command line: its syntax and messages on a data folder of its own,
// and the built program run as a user runs it, without a display.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "exchange/command.h"
#include "exchange/exchange_support.h"
#include "platform/ioerror.h"
#include "store/session.h"
#include "store/startup.h"
#include "support/envwrapper.h"
#include "support/records.h"
#include "support/testdir.h"

namespace velmora::testing {
namespace {

using ::testing::HasSubstr;

const std::string kCard = "BEGIN:VCARD\r\nN:Zed;Al\r\nTEL:1\r\nEND:VCARD\r\n";

struct Outcome {
  int status;
  std::string out, err;
};

Outcome RunCommand(const TestDir& dir, const std::vector<std::string>& args,
                   const std::string& in = "") {
  Outcome o;
  CommandIo io{[&](std::string_view b) { o.out.append(b); },
               [&](const std::string& line) { o.err += line + "\n"; }, StringSource(in)};
  o.status = RunExchangeCommand(args, dir.path(), Env::Posix(), io);
  return o;
}

TEST(ExchangeCommand, SyntaxMessagesAndFiles) {
  struct Case {
    std::vector<std::string> args;
    std::string stdinBytes;
    int status;
    const char* says;
    const char* changed;  // the data file the command wrote, if any
  };
  const Case cases[] = {
      {{"--export"}, "", 2, "--export takes vcard|csv [NAME]", nullptr},
      {{"--export", "xml"}, "", 2, "xml is no format velmora knows", nullptr},
      {{"--import", "csv"}, "", 2, "usage:", nullptr},
      {{"--export", "csv", "friends", "more"}, "", 2, "unexpected argument \"more\"", nullptr},
      // Anything unknown is refused before a window could start (more in
      // TheProgramRunsWithoutADisplay).
      {{"--exprot"}, "", 2, "unknown option \"--exprot\"", nullptr},
      {{"friends"}, "", 2, "unexpected argument", nullptr},
      {{"--wait", "5"}, "", 2, "--wait goes with a command", nullptr},
      {{"--wait", "1e3", "--export", "csv"}, "", 2, "not \"1e3\"", nullptr},
      {{"--export", "csv", "--import", "csv", "-"}, "", 2, "do not go together", nullptr},
      {{"--export", "csv"}, "", 0, "velmora: 1 entry exported from FRIENDS.VLM", nullptr},
      {{"--export", "VCARD", "Friends.vlm", "--wait", "0"}, "", 0, "1 entry exported", nullptr},
      {{"--export", "csv", "nosuch"}, "", 1, "no data file nosuch.VLM in", nullptr},
      {{"--export", "csv", "../friends"}, "", 1, "../friends: not a data file name", nullptr},
      {{"--export", "csv", "sub"}, "", 1, "SUB.VLM is a folder, not a data file", nullptr},
      {{"--import", "vcard", "cards.vcf", "brink"}, "", 1, kCannotEditText, nullptr},
      {{"--import", "vcard", "bad.vcf", "friends"},
       "",
       1,
       "bad.vcf, line 2: not a vCard line: \"oops\"; nothing was imported",
       nullptr},
      {{"--import", "vcard", "nosuch.vcf"},
       "",
       1,
       "nosuch.vcf: File not found; nothing was imported",
       nullptr},
      {{"--import", "vcard", "SUB.VLM"},
       "",
       1,
       "SUB.VLM is a folder, not a file; nothing was imported",
       nullptr},
      {{"--import", "csv", "cards.vcf", "friends"},
       "",
       1,
       "line 1: the first row names none",
       nullptr},
      {{"--import", "csv", "-", "no good"}, "name\nx\n", 1, "up to 12 letters or digits", nullptr},
      {{"--import", "csv", "-", "Empty"},
       "name\n",
       0,
       "velmora: standard input holds no entries, so no data file Empty.VLM was made",
       nullptr},
      {{"--import", "vcard", "cards.vcf"},
       "",
       0,
       "velmora: 1 entry added to FRIENDS.VLM; 0 fields cut to size, 0 characters replaced by \"?\"",
       "FRIENDS.VLM"},
      {{"--import", "csv", "-", "Neu2"},
       "name,phone\n\xe4\xb8\x80 Xi,123456789012345678901\n",
       0,
       "1 entry added to Neu2.VLM; 1 field cut to size, 1 character replaced by \"?\"",
       "Neu2.VLM"},
      {{"--import", "vcard", "-", "Neu3"},
       "BEGIN:VCARD\r\nEMAIL:a@b.c\r\nEND:VCARD\r\n" + kCard,
       0,
       "1 entry added to Neu3.VLM; 0 fields cut to size, 0 characters replaced by \"?\"; "
       "1 entry skipped: no name, surname, phone or comments\n",
       "Neu3.VLM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TestDir dir;
    dir.Write("velmora.ini", "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n");
    const std::string friends = FileOf({Rec("Bo", "Ek", "2")});
    dir.Write("FRIENDS.VLM", friends);
    dir.Write("cards.vcf", kCard);
    dir.Write("bad.vcf", "BEGIN:VCARD\r\noops\r\nEND:VCARD\r\n");
    std::filesystem::create_directory(dir / "SUB.VLM");
    std::vector<std::string> args = c.args;
    if (c.args[0] == "--import" && c.args.size() > 2 && c.args[2] != "-") args[2] = dir / c.args[2];
    std::vector<std::string> before = dir.Names();

    Outcome o = RunCommand(dir, args, c.stdinBytes);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_THAT(o.err, HasSubstr(c.says));
    // A wrong command line is told, then the usage; anything else in one line.
    if (c.status == 2)
      EXPECT_THAT(o.err, HasSubstr("\nusage: velmora")) << o.err;
    else
      EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    // An import's start-up rewrote the sample file; nothing else may change
    // but the file written, and an export changes nothing at all.
    std::vector<std::string> after = dir.Names();
    if (c.changed) {
      EXPECT_EQ(RecordsOf(dir.Read(c.changed)).size(),
                c.changed == std::string("FRIENDS.VLM") ? 2u : 1u);
      for (auto* names : {&before, &after})
        names->erase(std::remove(names->begin(), names->end(), std::string(c.changed)),
                     names->end());
    }
    if (c.args[0] == "--import")
      after.erase(std::remove(after.begin(), after.end(), std::string("brink.vlm")), after.end());
    EXPECT_EQ(after, before);
    if (!c.changed) {
      EXPECT_EQ(dir.Read("FRIENDS.VLM"), friends);
    }
  }
}

// A data folder nothing may be written into: every step that would write
// fails as a read-only or full disk makes it fail.
class NoWritesEnv : public EnvWrapper {
 public:
  explicit NoWritesEnv(int err) : EnvWrapper(Env::Posix()), err_(err) {}
  std::unique_ptr<File> OpenExisting(const std::string& path, bool writable) override {
    if (writable) ThrowIoErrorFromErrno(err_, path);
    return target().OpenExisting(path, false);
  }
  std::unique_ptr<File> CreateNew(const std::string& path) override { Refuse(path); }
  std::unique_ptr<File> CreateAnonymous(const std::string& dir) override { Refuse(dir); }
  void CheckWritable(const std::string& path) override { Refuse(path); }
  void Rename(const std::string& from, const std::string&) override { Refuse(from); }
  void Remove(const std::string& path) override { Refuse(path); }
  std::unique_ptr<DirLock> LockDir(const std::string& dir, int) override { Refuse(dir); }

 private:
  [[noreturn]] void Refuse(const std::string& path) { ThrowIoErrorFromErrno(err_, path); }
  int err_;
};

// An export is what a user runs when the disk is full or the folder
// read-only: it reads, and leaves every byte of the folder as it was, the
// sample file too, also while another instance holds the folder.
TEST(ExchangeCommand, AnExportWritesNothingAndTakesNoLock) {
  for (int err : {EROFS, ENOSPC, 0}) {
    SCOPED_TRACE(err);
    TestDir dir;
    dir.Write("velmora.ini", "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n");
    dir.Write("FRIENDS.VLM", FileOf({Rec("Bo", "Ek", "2")}));
    dir.Write("brink.vlm", "what a user left there");
    NoWritesEnv noWrites(err);
    Env& env = err ? static_cast<Env&>(noWrites) : Env::Posix();
    std::unique_ptr<DirLock> held;
    if (!err) held = Env::Posix().LockDir(dir.path(), 0);  // as another instance would
    for (const char* name : {"friends", "brink"}) {
      std::string out, errText;
      CommandIo io{[&](std::string_view b) { out.append(b); },
                   [&](const std::string& line) { errText += line + "\n"; }, StringSource("")};
      const auto started = std::chrono::steady_clock::now();
      EXPECT_EQ(RunExchangeCommand({"--export", "csv", name}, dir.path(), env, io), 0) << errText;
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
      // The sample file as every start writes it, not as it lies there.
      EXPECT_THAT(out, HasSubstr(name == std::string("brink") ? "BRINK,SYSTEMS," : "Bo,Ek,2"));
    }
    // An import cannot work there, or must wait: either way it names the folder.
    std::string errText;
    CommandIo io{[](std::string_view) {}, [&](const std::string& l) { errText += l; },
                 StringSource("name\nA\n")};
    EXPECT_EQ(RunExchangeCommand({"--wait", "0", "--import", "csv", "-"}, dir.path(), env, io), 1);
    EXPECT_THAT(errText, HasSubstr(dir.path())) << errText;
    EXPECT_THAT(dir.Names(), ::testing::ElementsAre("FRIENDS.VLM", "brink.vlm", "velmora.ini"));
    EXPECT_EQ(dir.Read("brink.vlm"), "what a user left there");
  }
}

// A copy cut short: the whole records go out, and the few bytes after them
// are told of, once, by the export and by an import that drops them.
TEST(ExchangeCommand, AnIncompleteLastRecordIsToldOfOnce) {
  for (size_t records : {1, 80'000}) {
    SCOPED_TRACE(records);
    TestDir dir;
    dir.Write("velmora.ini", "[filenames]\r\nextention=vlm\r\ndefaultfile=cut\r\n");
    std::vector<ContactRecord> all(records, Rec("Al", "Bo", "1"));
    dir.Write("CUT.VLM", FileOf(all) + std::string(50, 'x'));
    Outcome exported = RunCommand(dir, {"--export", "csv"});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(std::count(exported.out.begin(), exported.out.end(), '\n'), records + 1);
    EXPECT_EQ(exported.err, "velmora: " + std::string(records == 1 ? "1 entry" : "80,000 entries") +
                                " exported from CUT.VLM\n"
                                "velmora: the last 50 bytes of CUT.VLM made no whole entry; they "
                                "were left out\n");
    Outcome imported = RunCommand(dir, {"--import", "csv", "-"}, "name\nZed\n");
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_THAT(imported.err, HasSubstr("\nvelmora: the last 50 bytes of CUT.VLM made no whole "
                                        "entry; they were dropped\n"));
    EXPECT_EQ(dir.Read("CUT.VLM").size(), (records + 1) * ContactRecord::kSize);
  }
}

// Imports take turns: one waits while another instance holds the folder,
// says so once, and gives up only after --wait seconds. The windows wait
// their few seconds and say the folder is busy.
TEST(ExchangeCommand, AnImportWaitsItsTurnAndSaysSo) {
  TestDir dir;
  auto held = Env::Posix().LockDir(dir.path(), 0);  // as another instance would
  Outcome refused = RunCommand(dir, {"--wait", "0", "--import", "csv", "-", "Neu"}, "name\nA\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "velmora: the data folder " + dir.path() +
                             " is busy: another velmora is using it; waiting up to 0 s\n"
                             "velmora: the data folder " +
                             dir.path() + " is still busy after 0 s; nothing was imported\n");
  EXPECT_FALSE(dir.Exists("Neu.VLM"));

  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    held.reset();
  });
  Outcome waited = RunCommand(dir, {"--import", "csv", "-", "Neu", "--wait", "30"}, "name\nA\n");
  other.join();
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_THAT(waited.err, HasSubstr("is busy: another velmora is using it; waiting up to 30 s\n"
                                    "velmora: 1 entry added to Neu.VLM"));

  held = Env::Posix().LockDir(dir.path(), 0);
  Session s;
  s.ProgramDir = dir.path();
  s.lockWaitMs = 0;
  try {
    StoreLock lock(s);
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_STREQ(e.what(), "The data folder is busy");
  }
}

// What stands where a file should be is named, with its path, and nothing
// hangs on a pipe; memory running out is said in words.
TEST(ExchangeCommand, WhatIsWrongIsNamed) {
  struct Case {
    const char* fifo;    // made a pipe
    const char* folder;  // made a folder
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {nullptr, "velmora.ini", {"--export", "csv"}, "velmora.ini is a folder, not a file"},
      {"velmora.ini",
       nullptr,
       {"--export", "csv"},
       "velmora.ini is a pipe or a device, not a file"},
      {"velmora.ini",
       nullptr,
       {"--import", "csv", "-", "new"},
       "velmora.ini is a pipe or a device"},
      {"NEW.VLM", nullptr, {"--import", "csv", "-", "new"}, "NEW.VLM is a pipe or a device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TestDir dir;
    if (c.fifo) {
      ASSERT_EQ(::mkfifo((dir / c.fifo).c_str(), 0600), 0);
    }
    if (c.folder) std::filesystem::create_directory(dir / c.folder);
    Outcome o = RunCommand(dir, c.args, "name\nA\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr(dir.path() + c.says)) << o.err;
  }

  TestDir dir;
  std::string err;
  CommandIo io{[](std::string_view) {}, [&](const std::string& line) { err += line + "\n"; },
               [](char*, size_t) -> size_t { throw std::bad_alloc(); }};
  EXPECT_EQ(RunExchangeCommand({"--import", "csv", "-", "Neu"}, dir.path(), Env::Posix(), io), 1);
  EXPECT_EQ(err, "velmora: Not enough memory; nothing was imported\n");
}

// The program itself, from a program folder of its own, with no display to
// connect to: nothing of the windows may start.
TEST(ExchangeCommand, TheProgramRunsWithoutADisplay) {
  TestDir dir;
  std::filesystem::copy_file(VELMORA_EXE, dir / "velmora");
  std::filesystem::permissions(dir / "velmora", std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  // An extra text in RTF: reading it needs no application object either.
  dir.Write(CodePageToUtf8("Zo\xeb"
                           "Dupont"),
            "{\\rtf1\\ansi Dear {\\b Zo\\'eb}\\par}");
  auto run = [&](const std::string& args) {
    const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                            (dir / "velmora") + "' " + args + " 2>'" + (dir / "err.txt") + "'";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = ::pclose(p);
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, out);
  };
  const std::string fixture = "'" + std::string(VELMORA_TEST_DATA) + "/vcard/v40.vcf'";

  auto [imported, nothing] = run("--import vcard " + fixture + " Cards");
  EXPECT_EQ(imported, 0) << dir.Read("err.txt");
  EXPECT_EQ(
      dir.Read("err.txt"),
      "velmora: 2 entries added to Cards.VLM; 2 fields cut to size, 1 character replaced by \"?\"\n");
  auto [exported, vcf] = run("--export vcard cards");
  EXPECT_EQ(exported, 0) << dir.Read("err.txt");
  EXPECT_THAT(vcf, HasSubstr("N:Dupont;Zoë;;;\r\nTEL:+33-6-12-34-56-78\r\n"));
  EXPECT_THAT(vcf, HasSubstr("\r\nNOTE:Dear Zoë\r\nEND:VCARD\r\n"));
  auto [refused, none] = run("--import csv " + fixture);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(dir.Read("err.txt"), std::string("velmora: ") + kCannotEditText + "\n");
  // A mistyped option tells how to use the program; it starts no window
  // (which, without a display, would abort).
  for (const char* wrong : {"--exprot", "-h", "--export=csv"}) {
    auto [status, out] = run(wrong);
    EXPECT_EQ(status, 2) << wrong;
    EXPECT_THAT(dir.Read("err.txt"), HasSubstr("\nusage: velmora")) << wrong;
  }
}

// Run from a folder whose path is longer than the system allows, the
// program cannot know its own folder: it says so and stops, rather than
// take the current folder for it.
TEST(ExchangeCommand, AProgramFolderItCannotFindStopsIt) {
  TestDir dir;
  dir.Write("deep.sh",
            "cd \"$1\" && seg=$(printf 'd%.0s' $(seq 200)) && for i in $(seq 25); do\n"
            "  mkdir $seg && cd $seg\n"
            "done && cp \"$2\" velmora && env -u DISPLAY -u WAYLAND_DISPLAY ./velmora --export csv "
            "2>&1 >/dev/null\n"
            "echo \"status $?\"\n"
            "cd \"$1\" && rm -rf $seg\n");
  FILE* p = ::popen(
      ("bash '" + (dir / "deep.sh") + "' '" + dir.path() + "' '" + VELMORA_EXE + "'").c_str(), "r");
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  // A sanitizer's runtime says its own word about the long path first.
  std::string said;
  for (size_t at = 0, end; at < out.size(); at = end + 1) {
    end = std::min(out.find('\n', at), out.size());
    if (out.compare(at, 2, "==") != 0) said += out.substr(at, end - at + 1);
  }
  EXPECT_EQ(said,
            "velmora: The program's own folder cannot be found: File name too long\nstatus 1\n");
}

}  // namespace
}  // namespace velmora::testing
