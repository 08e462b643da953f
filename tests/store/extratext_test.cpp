#include "store/extratext.h"

#include <gmock/gmock.h>

#include "platform/ioerror.h"
#include "store/store_fixture.h"

namespace velmora {
namespace {

class ExtraText : public testing::StoreTest {};

TEST_F(ExtraText, TheThreeUsersReachOneFileWhateverTheCase) {
  EXPECT_EQ(ViewerTextName(" John", "Smith "), "JohnSmith");
  EXPECT_EQ(EditorTextName(" John", "Smith "), " JohnSmith ");
  EXPECT_EQ(CleanupTextName(" John", "Smith "), "JOHNSMITH");

  SaveExtraText(s, "JohnSmith", "{\\rtf1 hello}");
  EXPECT_TRUE(ExtraTextExists(s, "JOHNSMITH"));
  EXPECT_EQ(LoadExtraText(s, "johnsmith"), "{\\rtf1 hello}");
  SaveExtraText(s, "JOHNSMITH", "second");
  EXPECT_THAT(dir.Names(), ::testing::ElementsAre("JohnSmith"));
  EXPECT_EQ(dir.Read("JohnSmith"), "second");
}

TEST_F(ExtraText, NamesFromTheDataNeverReachOutsideTheProgramDirectory) {
  testing::TestDir outside;
  outside.Write("note", "keep");
  const std::string leaf = outside.path().substr(outside.path().rfind('/', outside.path().size() - 2) + 1);
  const std::string up = "../" + leaf + "note";
  for (const std::string& name : {up, std::string(".."), std::string("a\0b", 3), std::string()}) {
    EXPECT_FALSE(ExtraTextExists(s, name));
    try {
      SaveExtraText(s, name, "x");
      FAIL() << name;
    } catch (const AppError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file " + dir.path() + name.c_str());
    }
    EXPECT_THROW(LoadExtraText(s, name), AppError);
  }
  EXPECT_EQ(outside.Read("note"), "keep");
}

TEST_F(ExtraText, AFailedSaveLeavesTheOldTextWhole) {
  dir.Write("JohnSmith", "old text");
  for (const char* step : {"write", "sync", "rename"}) {
    env.FailEvery(step, ENOSPC);
    try {
      SaveExtraText(s, "JohnSmith", std::string(100000, 'n'));
      FAIL();
    } catch (const AppError& e) {
      EXPECT_STREQ(e.what(), "Failed to Save Stream");
    }
    EXPECT_EQ(dir.Read("JohnSmith"), "old text");
    EXPECT_THAT(dir.Names(), ::testing::ElementsAre("JohnSmith"));
  }
  env.FailEvery("open", EACCES);
  try {
    LoadExtraText(s, "JohnSmith");
    FAIL();
  } catch (const AppError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + (dir / "JohnSmith"));
  }
}

}  // namespace
}  // namespace velmora
