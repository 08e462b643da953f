#include "store/datafile.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <cstdio>

#include "platform/ioerror.h"
#include "store/store_fixture.h"

namespace velmora {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::FileOf;
using testing::Rec;
using testing::Surnames;

class DataFile : public testing::StoreTest {};

int IoCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const IoError& e) {
    return e.code();
  }
  return 0;
}

TEST_F(DataFile, AppendWritesOneRecordAtTheEndOrOverAnIncompleteTail) {
  WriteWorking("");
  AppendRecord(s, {"ANN", "LEE", "1", "2", "first"});
  EXPECT_EQ(Working(), Bytes(Rec("ANN", "LEE", "1", "2", "first")));

  // 300 bytes: two records and a tail of 30; the new record replaces the tail.
  std::string two = FileOf({Rec("A", "A"), Rec("B", "B")});
  WriteWorking(two + std::string(30, 'x'));
  AppendRecord(s, {"C", "C", "", "", ""});
  std::string now = Working();
  ASSERT_EQ(now.size(), 405u);
  EXPECT_THAT(Surnames(now), ElementsAre("A", "B", "C"));

  // Texts are stored as typed, cut to their fields.
  WriteWorking("");
  AppendRecord(s, {" Ann", std::string(25, 'S'), "", "", std::string(60, 'c')});
  auto stored = testing::RecordsOf(Working()).at(0);
  EXPECT_EQ(stored.Text(ContactRecord::kName), " Ann");
  EXPECT_EQ(stored.Text(ContactRecord::kSurname), std::string(20, 'S'));
  EXPECT_EQ(stored.Text(ContactRecord::kComments), std::string(50, 'c'));
}

TEST_F(DataFile, OperationsOnAMissingWorkingFileFailWithFileNotFound) {
  s.RemovedRecord = Rec("A", "A");
  EXPECT_EQ(IoCode([&] { AppendRecord(s, {"A", "A", "", "", ""}); }), IoError::kFileNotFound);
  EXPECT_EQ(IoCode([&] { RewriteWithout(s, true); }), IoError::kFileNotFound);
  EXPECT_EQ(IoCode([&] {
              ReadWorkingFile(
                  s, [](uint64_t) {}, [](RecordView) {});
            }),
            IoError::kFileNotFound);
  EXPECT_THAT(dir.Names(), ElementsAre()) << "no scratch file may be left behind";
  EXPECT_EQ(env.openFiles(), 0);
}

TEST_F(DataFile, RewriteDropsEveryCopyOfTheRecordAndKeepsTheOrder) {
  WriteWorking({Rec("JO", "HNSON", "1"), Rec("B", "B"), Rec("JOHN", "SON", "1"), Rec("C", "C"),
                Rec("  JO", "HNSON", "1")});
  s.RemovedRecord = Rec("JOHN", "SON", "1");
  RewriteWithout(s, false);
  EXPECT_THAT(Surnames(Working()), ElementsAre("B", "C"));
  EXPECT_FALSE(dir.Exists("temp.tmp"));

  // Changing one of two equal records leaves one record with the new values.
  WriteWorking({Rec("A", "A", "1"), Rec("A", "A", "1"), Rec("B", "B")});
  s.RemovedRecord = Rec("A", "A", "1");
  s.NewRecord = Rec("A", "A", "2");
  RewriteWithout(s, true);
  EXPECT_EQ(Working(), FileOf({Rec("B", "B"), Rec("A", "A", "2")}));

  // Records differing only in letter case are different records.
  WriteWorking({Rec("a", "a"), Rec("A", "A")});
  s.RemovedRecord = Rec("A", "A");
  EXPECT_TRUE(RewriteWithout(s, false));
  EXPECT_EQ(Working(), FileOf({Rec("a", "a")}));
  EXPECT_FALSE(RewriteWithout(s, false));  // none left: nothing to write
}

TEST_F(DataFile, RewriteCopiesWholeRecordsWithTheirFiller) {
  ContactRecord odd = Rec("LONGERNAME", "X");
  odd.SetText(ContactRecord::kName, "AL");  // filler still holds "NGERNAME"
  WriteWorking({odd, Rec("B", "B")});
  s.RemovedRecord = Rec("B", "B");
  RewriteWithout(s, false);
  EXPECT_EQ(Working(), Bytes(odd));
}

TEST_F(DataFile, RewriteKeepsTheFilePrivateAsItWas) {
  WriteWorking({Rec("A", "A"), Rec("B", "B")});
  ::chmod((dir / "FRIENDS.VLM").c_str(), 0600);
  s.RemovedRecord = Rec("A", "A");
  RewriteWithout(s, false);
  struct stat st;
  ASSERT_EQ(::stat((dir / "FRIENDS.VLM").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(DataFile, RewriteOfAnEmptyFile) {
  WriteWorking("");
  s.RemovedRecord = Rec("A", "A");
  RewriteWithout(s, false);
  EXPECT_EQ(Working(), "");
  s.NewRecord = Rec("N", "N");
  RewriteWithout(s, true);
  EXPECT_EQ(Working(), Bytes(Rec("N", "N")));
}

TEST_F(DataFile, ReadingIntoAnIncompleteTailFailsAndChangesNothing) {
  std::string content = FileOf({Rec("A", "A"), Rec("B", "B")}) + std::string(30, 'x');
  WriteWorking(content);

  std::vector<std::string> seen;
  uint64_t count = 0;
  EXPECT_EQ(IoCode([&] {
              ReadWorkingFile(
                  s, [&](uint64_t n) { count = n; },
                  [&](RecordView r) { seen.emplace_back(r.Text(ContactRecord::kName)); });
            }),
            IoError::kReadBeyondEnd);
  EXPECT_EQ(count, 2u);
  EXPECT_THAT(seen, ElementsAre("A", "B"));

  s.RemovedRecord = Rec("A", "A");
  EXPECT_EQ(IoCode([&] { RewriteWithout(s, false); }), IoError::kReadBeyondEnd);
  EXPECT_EQ(Working(), content);
  EXPECT_FALSE(dir.Exists("temp.tmp"));
  EXPECT_EQ(env.openFiles(), 0);
}

TEST_F(DataFile, ReadingPassesEveryRecordInFileOrder) {
  std::vector<ContactRecord> many;
  for (int i = 0; i < 20000; ++i) many.push_back(Rec("N" + std::to_string(i), "S"));
  WriteWorking(many);
  uint64_t count = 0;
  int i = 0;
  bool inOrder = true;
  ReadWorkingFile(
      s, [&](uint64_t n) { count = n; },
      [&](RecordView r) { inOrder &= r.Text(ContactRecord::kName) == "N" + std::to_string(i++); });
  EXPECT_EQ(count, 20000u);
  EXPECT_EQ(i, 20000);
  EXPECT_TRUE(inOrder);
}

TEST_F(DataFile, OrphanTextIsRemovedOnlyWhenNoRecordStillUsesIt) {
  dir.Write("JohnSmith", "{\\rtf1 note}");
  WriteWorking({Rec(" john", "SMITH ", "other phone"), Rec("ANN", "LEE")});
  RemoveOrphanText(s, "JOHNSMITH");
  EXPECT_TRUE(dir.Exists("JohnSmith")) << "another record with the same name still uses it";

  WriteWorking({Rec("ANN", "LEE")});
  RemoveOrphanText(s, "JOHNSMITH");
  EXPECT_FALSE(dir.Exists("JohnSmith")) << "found without regard to letter case";

  // No file: nothing is read, so even a missing working file is no error.
  std::remove((dir / "FRIENDS.VLM").c_str());
  EXPECT_NO_THROW(RemoveOrphanText(s, "NOBODY"));
}

TEST_F(DataFile, OrphanTextNamesFromTheDataNeverLeaveTheProgramDirectory) {
  testing::TestDir outside;
  outside.Write("NOTE", "keep");
  WriteWorking("");
  std::string up = "../" +
                   outside.path().substr(outside.path().rfind('/', outside.path().size() - 2) + 1) +
                   "NOTE";
  RemoveOrphanText(s, up);
  RemoveOrphanText(s, "..");
  RemoveOrphanText(s, "");
  EXPECT_TRUE(outside.Exists("NOTE"));
}

}  // namespace
}  // namespace velmora
