// File names inside the program directory, and the code page they are
// spelled in.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/ioerror.h"
#include "platform/programdir.h"
#include "platform/text.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::TestDir;

TEST(FileNames, ResolveWithoutRegardToLetterCaseAndPreferTheExactName) {
  TestDir dir;
  Env& env = Env::Posix();
  dir.Write("friends.vlm", "");
  EXPECT_EQ(ResolveIn(env, dir.path(), "FRIENDS.VLM"), dir / "friends.vlm");
  EXPECT_EQ(ResolveIn(env, dir.path(), "Friends.Vlm"), dir / "friends.vlm");
  EXPECT_EQ(ResolveIn(env, dir.path(), "pals.vlm"), dir / "pals.vlm")
      << "a new file keeps its name";

  dir.Write("FRIENDS.VLM", "");
  EXPECT_EQ(ResolveIn(env, dir.path(), "FRIENDS.VLM"), dir / "FRIENDS.VLM");
  EXPECT_EQ(ResolveIn(env, dir.path(), "friends.vlm"), dir / "friends.vlm");
  EXPECT_EQ(ResolveIn(env, dir.path(), "Friends.vlm"), dir / "FRIENDS.VLM")
      << "the first in byte order";

  // Only a to z fold: an accented letter is matched as it is.
  dir.Write(CodePageToUtf8("\xe9t\xe9"), "");
  EXPECT_EQ(ResolveIn(env, dir.path(), CodePageToUtf8("\xc9T\xc9")), dir / CodePageToUtf8("\xc9T\xc9"));
}

TEST(FileNames, APlainNameCannotLeaveItsDirectory) {
  for (const char* bad : {"", ".", "..", "a/b", "../x", "/etc"})
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));
  for (const char* good : {"FRIENDS.VLM", "...VLM", "JOHN SMITH", ".hidden"})
    EXPECT_TRUE(IsPlainFileName(good));
}

TEST(FileNames, AreQuotedInMessagesOnlyWhenTheyCouldFakeALine) {
  const std::pair<std::string, std::string> cases[] = {
      {"FRIENDS.VLM", "FRIENDS.VLM"},
      {"/home/ann/my \"cards\" \xc5\x81\xc3\xb3w\xc5\xba/a\\b.vcf",
       "/home/ann/my \"cards\" \xc5\x81\xc3\xb3w\xc5\xba/a\\b.vcf"},
      {"a\nvelmora: b", "\"a\\nvelmora: b\""},
      {"\"a\" b\tc\\", "\"\\\"a\\\" b\\tc\\\\\""},
      // A C1 control, a line separator, a direction override, and bytes that
      // are no UTF-8: cut short, overlong, a surrogate.
      {"a\xc2\x9bz\xe2\x80\xa8\xe2\x80\xae", "\"a\\x9Bz\\u2028\\u202E\""},
      {"\x1b[2J\x7f\xe9t\xc0\xaf\xed\xa0\x80\xf0\x9f",
       "\"\\x1B[2J\\x7F\\xE9t\\xC0\\xAF\\xED\\xA0\\x80\\xF0\\x9F\""},
  };
  for (const auto& [name, quoted] : cases) EXPECT_EQ(QuotedName(name), quoted) << name;
  // Texts of files inside a message: escapes without quotes.
  EXPECT_EQ(OneLine("x.vcf: \"a\"\r\n\\"), "x.vcf: \"a\"\\r\\n\\");
}

TEST(CodePage, EveryByteHasACharacterAndComesBack) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(char(b));
  EXPECT_EQ(ToCodePage(FromCodePage(all)), all);
  EXPECT_EQ(Utf8ToCodePage(CodePageToUtf8(all)), all);
  EXPECT_EQ(FromCodePage("\x80\x9f\xe9"), QString::fromUtf8("€Ÿé"));
  EXPECT_EQ(ToCodePage(QString::fromUtf8("Zoë ‘Ω’ 😀")), "Zo\xeb \x91?\x92 ?")
      << "one ? per character";
}

TEST(DataDir, TheProgramDirectoryUnlessItCannotBeWritten) {
  const struct {
    bool writable;
    const char* dataHome;
    const char* home;
    const char* dir;
  } cases[] = {
      {true, "/x/data", "/home/ann", "/opt/v/"},
      {false, "/x/data", "/home/ann", "/x/data/velmora/"},
      {false, "/x/data/", "/home/ann", "/x/data/velmora/"},
      {false, nullptr, "/home/ann", "/home/ann/.local/share/velmora/"},
      {false, "", "/home/ann", "/home/ann/.local/share/velmora/"},
      {false, "relative", "/home/ann", "/home/ann/.local/share/velmora/"},
      {false, nullptr, nullptr, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ChooseDataDir("/opt/v/", c.writable, c.dataHome, c.home), c.dir)
        << (c.dataHome ? c.dataHome : "(unset)");
  // Installed by the package: never written, whoever runs it.
  EXPECT_FALSE(ProgramDirWritable("/usr/lib/velmora/"));
  EXPECT_TRUE(ProgramDirWritable(testing::TestDir().path()));
}

// Where no folder can hold the user's files, or the program's own cannot be
// found, the program is told why; it never falls back on another folder.
TEST(DataDir, NoFolderToBeHadIsSaidWithItsReason) {
  TestDir dir;
  dir.Write("file", "");
  const std::string file = dir / "file";
  auto keep = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  const std::optional<std::string> dataHome = keep("XDG_DATA_HOME"), home = keep("HOME");
  const struct {
    const char* dataHome;
    const char* home;
    std::string says;
  } cases[] = {
      {nullptr, nullptr,
       "the program folder /usr/lib/velmora/ may not be written, and neither "
       "XDG_DATA_HOME nor HOME is set"},
      {file.c_str(), nullptr, "cannot be made: " + file + " is a file, not a folder"},
      {nullptr, file.c_str(), "cannot be made: " + file + " is a file, not a folder"},
  };
  for (const auto& c : cases) {
    for (bool create : {true, false}) {
      c.dataHome ? ::setenv("XDG_DATA_HOME", c.dataHome, 1) : ::unsetenv("XDG_DATA_HOME");
      c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
      try {
        DataDirFor("/usr/lib/velmora/", create);
        ADD_FAILURE() << c.says;
      } catch (const AppError& e) {
        EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      }
    }
  }
  dataHome ? ::setenv("XDG_DATA_HOME", dataHome->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
  home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");

  EXPECT_THROW(ExecutableDirOf(dir / "missing"), AppError);
  EXPECT_EQ(ExecutableDirOf(file), dir.path());
}

}  // namespace
}  // namespace velmora
