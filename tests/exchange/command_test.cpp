// The command line: its syntax and messages on a data folder of its own,
// and the built program run as a user runs it, without a display.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "exchange/command.h"
#include "exchange/exchange_support.h"
#include "store/startup.h"
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
      {{"--export"}, "", 1, "usage: velmora --export", nullptr},
      {{"--export", "xml"}, "", 1, "usage:", nullptr},
      {{"--import", "csv"}, "", 1, "usage:", nullptr},
      {{"--export", "csv", "friends", "more"}, "", 1, "usage:", nullptr},
      {{"--export", "csv"}, "", 0, "velmora: 1 entry exported from FRIENDS.VLM", nullptr},
      {{"--export", "VCARD", "Friends.vlm"}, "", 0, "1 entry exported", nullptr},
      {{"--export", "csv", "nosuch"}, "", 1, "no data file nosuch.VLM in", nullptr},
      {{"--export", "csv", "../friends"}, "", 1, "../friends: not a data file name", nullptr},
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
      {{"--import", "csv", "cards.vcf", "friends"},
       "",
       1,
       "line 1: the first row names none",
       nullptr},
      {{"--import", "csv", "-", "no good"}, "name\nx\n", 1, "up to 12 letters or digits", nullptr},
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TestDir dir;
    dir.Write("velmora.ini", "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n");
    const std::string friends = FileOf({Rec("Bo", "Ek", "2")});
    dir.Write("FRIENDS.VLM", friends);
    dir.Write("cards.vcf", kCard);
    dir.Write("bad.vcf", "BEGIN:VCARD\r\noops\r\nEND:VCARD\r\n");
    std::vector<std::string> args = c.args;
    if (c.args[0] == "--import" && c.args.size() > 2 && c.args[2] != "-") args[2] = dir / c.args[2];
    std::vector<std::string> before = dir.Names();

    Outcome o = RunCommand(dir, args, c.stdinBytes);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_THAT(o.err, HasSubstr(c.says));
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    // Start-up rewrote the sample file; nothing else may change but the
    // file written.
    std::vector<std::string> after = dir.Names();
    if (c.changed) {
      EXPECT_EQ(RecordsOf(dir.Read(c.changed)).size(),
                c.changed == std::string("FRIENDS.VLM") ? 2u : 1u);
      for (auto* names : {&before, &after})
        names->erase(std::remove(names->begin(), names->end(), std::string(c.changed)),
                     names->end());
    }
    after.erase(std::remove(after.begin(), after.end(), std::string("brink.vlm")), after.end());
    EXPECT_EQ(after, before);
    if (!c.changed) {
      EXPECT_EQ(dir.Read("FRIENDS.VLM"), friends);
    }
  }
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
}

}  // namespace
}  // namespace velmora::testing
