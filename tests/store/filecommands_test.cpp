#include "store/filecommands.h"

#include <gmock/gmock.h>
#include <sys/stat.h>

#include "platform/ioerror.h"
#include "store/store_fixture.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;

class FileCommands : public testing::StoreTest {};

TEST_F(FileCommands, ListsTheDataFilesSortedWithoutRegardToCase) {
  for (const char* name : {"b.vlm", "A.VLM", "c.Vlm", "x.y.vlm", "notes.txt", ".hidden.vlm", "noext", "vlm"})
    dir.Write(name, "");
  ::mkdir((dir / "dir.vlm").c_str(), 0755);
  EXPECT_THAT(ListDataFiles(s), ElementsAre("A.VLM", "b.vlm", "c.Vlm", "x.y.vlm"));
  s.WorkingExt = "TXT";
  EXPECT_THAT(ListDataFiles(s), ElementsAre("notes.txt"));
}

TEST_F(FileCommands, CopyReplacesTheTargetWholeAndNeverHarmsTheSource) {
  dir.Write("FRIENDS.VLM", std::string(3 << 20, 'f'));  // several blocks
  dir.Write("copy.vlm", "old copy");
  CopyFileReplacing(s, "FRIENDS.VLM", "COPY.VLM");
  EXPECT_EQ(dir.Read("copy.vlm"), dir.Read("FRIENDS.VLM"));
  EXPECT_THAT(dir.Names(), ElementsAre("FRIENDS.VLM", "copy.vlm"));

  // Onto itself under another spelling: the content stays.
  CopyFileReplacing(s, "FRIENDS.VLM", "friends.vlm");
  EXPECT_EQ(dir.Read("FRIENDS.VLM"), std::string(3 << 20, 'f'));

  // A full disk half way: the old target stands, nothing is left behind.
  dir.Write("copy.vlm", "old copy");
  env.FailEvery("sync", ENOSPC);
  EXPECT_THROW(CopyFileReplacing(s, "FRIENDS.VLM", "COPY.VLM"), IoError);
  EXPECT_EQ(dir.Read("copy.vlm"), "old copy");
  EXPECT_THAT(dir.Names(), ElementsAre("FRIENDS.VLM", "copy.vlm"));
  EXPECT_EQ(env.openFiles(), 0);
}

TEST_F(FileCommands, RenameReplacesATargetInAnyCaseAndKeepsTheNameAsEntered) {
  dir.Write("FRIENDS.VLM", "friends");
  dir.Write("PALS.VLM", "pals");
  RenameFileReplacing(s, "FRIENDS.VLM", "Pals.VLM");
  EXPECT_THAT(dir.Names(), ElementsAre("Pals.VLM"));
  EXPECT_EQ(dir.Read("Pals.VLM"), "friends");

  env.FailEvery("rename", EACCES);
  try {
    RenameFileReplacing(s, "PALS.VLM", "OTHER.VLM");
    FAIL();
  } catch (const IoError& e) {
    EXPECT_EQ(e.code(), IoError::kAccessDenied);
  }
  EXPECT_THAT(dir.Names(), ElementsAre("Pals.VLM"));
  env.Heal();
  EXPECT_THROW(RenameFileReplacing(s, "GONE.VLM", "OTHER.VLM"), IoError);
}

TEST_F(FileCommands, DeleteRemovesOnlyAListedDataFile) {
  dir.Write("A.VLM", "");
  dir.Write("notes.txt", "");
  testing::TestDir outside;
  outside.Write("X.VLM", "");
  const std::string up = "../" + outside.path().substr(outside.path().rfind('/', outside.path().size() - 2) + 1) + "X.VLM";
  for (const std::string& name : {std::string("notes.txt"), std::string(""), up, std::string("B.VLM")})
    EXPECT_THROW(DeleteDataFile(s, name), IoError) << name;
  EXPECT_TRUE(outside.Exists("X.VLM"));
  DeleteDataFile(s, "A.VLM");
  EXPECT_THAT(dir.Names(), ElementsAre("notes.txt"));
}

}  // namespace
}  // namespace velmora
