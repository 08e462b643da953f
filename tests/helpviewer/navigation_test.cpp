#include "helpviewer/navigation.h"

#include <gmock/gmock.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "helpviewer/helpfiles.h"
#include "helpviewer/printers.h"
#include "platform/ioerror.h"
#include "support/fakeenv.h"
#include "support/testdir.h"

namespace tolka {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using velmora::AppError;

TEST(HelpFiles, LinesEndAtCrLfLoneLfOrLoneCrAndTheTextAtNul) {
  const std::pair<std::string, QStringList> kCases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},  // a final break adds no line
      {"a\nb", {"a", "b"}},
      {"a\n\rb\r", {"a", "", "b"}},  // LF then CR: two breaks
      {"a\r\r\n\r\nb", {"a", "", "", "b"}},
      {"\r\n", {""}},
      {std::string("a\nb\0c\nd", 7), {"a", "b"}},
      {"\x80 caf\xe9", {QString::fromUtf8("€ café")}},
  };
  for (const auto& [bytes, lines] : kCases) {
    EXPECT_EQ(TextLines(bytes), lines) << bytes;
    EXPECT_EQ(LineCount(bytes), size_t(lines.size())) << bytes;
  }
}

TEST(HelpNavigation, TextPositionsCountWholeOccurrencesFromTheLeft) {
  const struct {
    const char *sub, *s;
    int n;
    size_t nth, last;
  } kCases[] = {
      {"#", "hlp#0#2#1", 1, 4, 8}, {"#", "hlp#0#2#1", 3, 8, 8}, {"#", "hlp#0#2#1", 4, 0, 8},
      {"aa", "aaaaa", 2, 3, 3},    {"aa", "aaa", 2, 0, 1},      {"#", "hlp", 1, 0, 0},
      {"", "abc", 1, 0, 0},        {"#", "#", 0, 0, 1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(NthPos(c.sub, c.s, c.n), c.nth) << c.sub << " in " << c.s << " #" << c.n;
    EXPECT_EQ(LastPos(c.sub, c.s), c.last) << c.sub << " in " << c.s;
  }
}

TEST(HelpNavigation, CaptionAndProgramTitle) {
  EXPECT_EQ(CaptionFromArguments({}), "");
  EXPECT_EQ(CaptionFromArguments({"Velmora", "Help"}), "Velmora Help");
  EXPECT_EQ(CaptionFromArguments({"", " \tA  B\n", ""}), "A  B");
  EXPECT_EQ(ProgramTitleFor("tolka"), "Tolka");
  EXPECT_EQ(ProgramTitleFor("TOLKA.bin.old"), "Tolka");
}

class Navigation : public ::testing::Test {
 protected:
  Navigation() {
    dir.Write("hlp#0i", "First\r\nSecond\r\n\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\nTenth\r\n");
    dir.Write("hlp#0#1h", "Page one\r\nline two\r\n");
    dir.Write("hlp#0#2i", "Sub one\nSub two");
    dir.Write("hlp#0#2h", "never shown: the sub-level wins");
    dir.Write("hlp#0#2#1h", "Deep page\rsecond line\r");
    dir.Write("hlp#0#3h", "Under an empty title");
    dir.Write("HLP#0#5H", "Upper-case name");
    dir.Write("hlp#0#10h", std::string("Page ten\0junk", 13));
    dir.Write("hlp#0#0h", "Page zero");
    nav.Start();
  }
  std::string Path(const char* name) { return dir.path() + name; }

  velmora::testing::TestDir dir;
  velmora::testing::FaultEnv env;
  HelpNavigator nav{env, dir.path()};
};

TEST_F(Navigation, AnEntryOpensItsSubLevelElseItsPageElseTheNotFoundPage) {
  const QString notFound = kTopicNotFound;
  const struct {
    int selected;
    const char* path;
    bool list;
    QString text, caption;
    int current;  // after Back from the page, or in the level entered
  } kCases[] = {
      {0, "hlp#0", false, "Page one\nline two", "First", 0},
      {1, "hlp#0#2", true, notFound, "", 0},
      {2, "hlp#0", false, "Under an empty title", "", 2},
      {3, "hlp#0", false, notFound, "4", 3},  // no files for entry 4
      {4, "hlp#0", false, "Upper-case name", "5", 4},
      {9, "hlp#0", false, "Page ten", "Tenth", 9},  // never hlp#0#1h
      {-1, "hlp#0", false, "Page zero", "", 0},     // nothing selected: entry 0
  };
  for (const auto& c : kCases) {
    HelpNavigator n(env, dir.path());
    n.Start();
    n.OpenEntry(c.selected);
    EXPECT_EQ(n.topicPath(), c.path) << c.selected;
    EXPECT_EQ(n.listInFront(), c.list) << c.selected;
    EXPECT_EQ(n.topicText(), c.text) << c.selected;
    EXPECT_EQ(n.topicCaption(), c.caption) << c.selected;
    n.BackToList();
    EXPECT_EQ(n.currentEntry(), c.current) << c.selected;
  }
}

TEST_F(Navigation, BackLeavesThePageThenClimbsToTheRootReadAgain) {
  nav.OpenEntry(1);
  nav.OpenEntry(0);
  EXPECT_EQ(nav.topicText(), "Deep page\nsecond line");
  nav.BackToList();
  EXPECT_TRUE(nav.listInFront());
  EXPECT_EQ(nav.entries(), QStringList({"Sub one", "Sub two"}));
  EXPECT_EQ(nav.topicText(), kTopicNotFound);
  EXPECT_EQ(nav.topicCaption(), "Sub one");

  dir.Write("hlp#0i", "Read again\r\n");
  nav.LevelUp();
  EXPECT_EQ(nav.topicPath(), "hlp#0");
  EXPECT_EQ(nav.entries(), QStringList{"Read again"});
  EXPECT_EQ(nav.currentEntry(), 0);  // the list grew shorter
  const int version = nav.listVersion();
  nav.LevelUp();
  EXPECT_EQ(nav.listVersion(), version);
}

TEST_F(Navigation, AFileThatCannotBeReadOrIsTooLargeLeavesTheListAsItWas) {
  env.FailEvery("open", EACCES);
  EXPECT_THAT([&] { nav.OpenEntry(1); },
              ThrowsMessage<AppError>(StrEq("Cannot open file " + Path("hlp#0#2i"))));
  EXPECT_EQ(nav.topicPath(), "hlp#0");  // the path names the list still shown
  EXPECT_EQ(nav.entries().size(), 10);
  EXPECT_THAT([&] { nav.OpenEntry(0); },
              ThrowsMessage<AppError>(StrEq("Cannot open file " + Path("hlp#0#1h"))));
  EXPECT_FALSE(nav.listInFront());
  EXPECT_EQ(nav.topicCaption(), "");

  env.Heal();
  // A list is held to a page's caps, and so is a page of line ends.
  for (const std::string& tooLarge :
       {std::string(kMaxHelpFileBytes + 1, 'x'), std::string(kMaxHelpLines + 1, '\n')}) {
    dir.Write("hlp#0#2i", tooLarge);
    dir.Write("hlp#0#1h", tooLarge);
    EXPECT_THAT([&] { nav.OpenEntry(1); },
                ThrowsMessage<AppError>(StrEq("Text exceeds memo capacity")));
    EXPECT_EQ(nav.entries().size(), 10);
    EXPECT_THAT([&] { nav.OpenEntry(0); },
                ThrowsMessage<AppError>(StrEq("Text exceeds memo capacity")));
    nav.BackToList();
  }
  dir.Write("hlp#0#2i", std::string(kMaxHelpLines, '\n'));
  nav.OpenEntry(1);
  EXPECT_EQ(nav.entries().size(), qsizetype(kMaxHelpLines));
  nav.LevelUp();
  dir.Write("hlp#0#1h", std::string(kMaxHelpFileBytes + 1, 'x'));
  env.FailAt(-1, 0);  // only to clear the log of steps
  EXPECT_THAT([&] { nav.OpenEntry(0); },
              ThrowsMessage<AppError>(StrEq("Text exceeds memo capacity")));
  EXPECT_THAT(env.log(), ::testing::Not(::testing::Contains("read")));
  EXPECT_EQ(nav.topicText(), kTopicNotFound);
  dir.Write("hlp#0#1h", std::string(kMaxHelpFileBytes, 'x'));
  nav.OpenEntry(0);
  EXPECT_EQ(nav.topicText().size(), qsizetype(kMaxHelpFileBytes));

  // A page that grows past the cap after its size was taken is held to it.
  nav.BackToList();
  dir.Write("hlp#0#1h", "small");
  env.beforeStep = [&](const std::string& kind) {
    if (kind == "read") dir.Write("hlp#0#1h", std::string(kMaxHelpFileBytes + 1, 'x'));
  };
  EXPECT_THAT([&] { nav.OpenEntry(0); },
              ThrowsMessage<AppError>(StrEq("Text exceeds memo capacity")));
  env.beforeStep = nullptr;
}

// A level's list that is no regular file is reported alike whichever step
// reaches it: the first list, a double click, Back.
TEST_F(Navigation, AListThatIsNoRegularFileCannotBeOpenedFromAnyStep) {
  const std::function<void(const std::string&)> kKinds[] = {
      [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
      [](const std::string& p) { ASSERT_EQ(::symlink("/dev/null", p.c_str()), 0); },
      [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); },
  };
  for (const auto& make : kKinds) {
    velmora::testing::TestDir d;
    d.Write("hlp#0i", "Only\r\n");
    make(d.path() + "hlp#0#1i");
    HelpNavigator n(env, d.path());
    n.Start();
    EXPECT_THAT([&] { n.OpenEntry(0); },
                ThrowsMessage<AppError>(StrEq("Cannot open file " + d.path() + "hlp#0#1i")));
    EXPECT_TRUE(n.listInFront());
    EXPECT_EQ(n.entries(), QStringList{"Only"});

    d.Write("hlp#0#2i", "Deeper\r\n");
    std::filesystem::remove(d.path() + "hlp#0i");
    make(d.path() + "hlp#0i");
    n.OpenEntry(1);
    EXPECT_THAT([&] { n.LevelUp(); },
                ThrowsMessage<AppError>(StrEq("Cannot open file " + d.path() + "hlp#0i")));
    EXPECT_THAT([&] { HelpNavigator(env, d.path()).Start(); },
                ThrowsMessage<AppError>(StrEq("Cannot open file " + d.path() + "hlp#0i")));
  }
}

}  // namespace
}  // namespace tolka
