#include "store/extratext.h"

#include <gmock/gmock.h>

#include "platform/ioerror.h"
#include "store/store_fixture.h"

namespace velmora {
namespace {

class ExtraText : public testing::StoreTest {};

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

TEST_F(ExtraText, NoEntryNamesOneOfTheProgramsOwnFiles) {
  // Among them every name the launcher tries for the help viewer.
  for (const char* own : {"velmora.ini", "TEMP.TMP", "Tolka", "tolka.exe", "VELMORA.EXE", "hlp#0i"})
    EXPECT_FALSE(IsSafeTextName(s, own)) << own;
  EXPECT_TRUE(IsSafeTextName(s, "tolka.exe2"));
}

}  // namespace
}  // namespace velmora
