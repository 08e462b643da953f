#include "platform/profile.h"

#include <gtest/gtest.h>

#include "support/fakeenv.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::TestDir;

class Profile : public ::testing::Test {
 protected:
  std::string Read(const std::string& section, const std::string& key) {
    return ReadProfileString(env, dir / "p.ini", section, key, "DEF");
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) {
    return WriteProfileString(env, dir / "p.ini", section, key, value);
  }
  TestDir dir;
  testing::FaultEnv env;
};

TEST_F(Profile, ReadsTheTrimmedValueMatchingSectionAndKeyWithoutCase) {
  dir.Write("p.ini",
            "top=1\r\n"
            "[Other]\r\nname=wrong\r\n"
            "  [ FileNames ]  \r\n"
            "\tName \t=  a=b c \t\r\n"
            "name=second\n"
            "empty=\r\n"
            "[next]\r\nlast=x");
  EXPECT_EQ(Read("filenames", "NAME"), "a=b c");
  EXPECT_EQ(Read("filenames", "empty"), "");
  EXPECT_EQ(Read("filenames", "missing"), "DEF");
  EXPECT_EQ(Read("filenames", "last"), "DEF") << "a key of the next section";
  EXPECT_EQ(Read("next", "last"), "x");
  EXPECT_EQ(Read("nosuch", "name"), "DEF");

  dir.Write("p.ini", "[s]\r\nk=" + std::string(2000, 'v') + "\r\n");
  EXPECT_EQ(Read("s", "k"), std::string(1023, 'v'));

  std::remove((dir / "p.ini").c_str());
  EXPECT_EQ(Read("s", "k"), "DEF");
}

TEST_F(Profile, WriteReplacesOnlyTheValueAndKeepsEveryOtherByte) {
  const std::string head = "; written by hand\r\n[FILENAMES]\r\nextention = vlm\r\n";
  dir.Write("p.ini", head + "DefaultFile =  brink  \r\n\r\n[other]\nx=1\n");
  ASSERT_TRUE(Write("filenames", "defaultfile", "Friends"));
  EXPECT_EQ(dir.Read("p.ini"), head + "DefaultFile =  Friends  \r\n\r\n[other]\nx=1\n");
  ASSERT_TRUE(Write("filenames", "defaultfile", ""));
  EXPECT_EQ(dir.Read("p.ini"), head + "DefaultFile =    \r\n\r\n[other]\nx=1\n");
  EXPECT_EQ(Read("filenames", "defaultfile"), "");
}

TEST_F(Profile, WriteCreatesWhatIsMissing) {
  ASSERT_TRUE(Write("filenames", "defaultfile", "PALS"));
  EXPECT_EQ(dir.Read("p.ini"), "[filenames]\r\ndefaultfile=PALS\r\n");

  // A missing key goes to the end of its section, before the blank lines.
  dir.Write("p.ini", "[filenames]\r\nextention=vlm\r\n\r\n[other]\r\nx=1");
  ASSERT_TRUE(Write("FILENAMES", "defaultfile", "A"));
  EXPECT_EQ(dir.Read("p.ini"),
            "[filenames]\r\nextention=vlm\r\ndefaultfile=A\r\n\r\n[other]\r\nx=1");

  // A missing section is added after a last line without its line end.
  ASSERT_TRUE(Write("third", "k", "v"));
  EXPECT_EQ(
      dir.Read("p.ini"),
      "[filenames]\r\nextention=vlm\r\ndefaultfile=A\r\n\r\n[other]\r\nx=1\r\n[third]\r\nk=v\r\n");
  EXPECT_EQ(Read("third", "k"), "v");
}

TEST_F(Profile, AFailedWriteLeavesTheFileAsItWas) {
  const std::string content = "[s]\r\nk=old\r\n";
  dir.Write("p.ini", content);
  EXPECT_FALSE(Write("s", "k", "two\r\nlines"));
  for (const char* step : {"create", "write", "sync", "close", "rename"}) {
    env.FailEvery(step, ENOSPC);
    EXPECT_FALSE(Write("s", "k", "new")) << step;
    EXPECT_EQ(dir.Read("p.ini"), content) << step;
    EXPECT_FALSE(dir.Exists("p.ini.tmp")) << step;
    EXPECT_EQ(env.openFiles(), 0);
  }
}

}  // namespace
}  // namespace velmora
