// The result grid: the search that fills it, its counts, and deletion by
// right click.
#include <QHeaderView>

#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Rec;
using testing::Surnames;

class ResultGridTest : public testing::WindowsTest {};

const std::vector<ContactRecord> kFriends = {
    Rec("Ann", "smart", "1"), Rec("BOB", " Smith"), Rec("Cy", "S"),
    Rec("Dee", "SMYTHE "),    Rec("Sma", "Jones"),  Rec("Eve", "Smith", "555", "", "note")};

TEST_F(ResultGridTest, SurnameSearchListsMatchesInFileOrderWithCellsAsStored) {
  Start(kFriends);
  Search("sm");
  EXPECT_EQ(Cell(0, 0), "NAME");
  EXPECT_EQ(Cell(0, 4), "COMMENTS");
  EXPECT_EQ(Column(1), (std::vector<QString>{"smart", "SMYTHE ", "Smith"}));
  EXPECT_EQ(Cell(3, 2), "555");
  EXPECT_EQ(Cell(3, 4), "note");
  EXPECT_EQ(Counts(), "6/3");
  EXPECT_EQ(form2->CurrentRow(), 1);

  Click(BackButton());  // BACK
  Search("SM", /*byName=*/true);
  EXPECT_EQ(Column(0), (std::vector<QString>{"Sma"}));

  Click(BackButton());
  Search("");
  EXPECT_EQ(Column(1).size(), kFriends.size());
}

TEST_F(ResultGridTest, NothingFoundShowsTheMessageRowCountedAsOne) {
  Start({});
  Search("X");
  EXPECT_EQ(Column(4), (std::vector<QString>{"No matching entries found."}));
  EXPECT_EQ(Counts(), "0/1");

  Click(BackButton());
  WriteWorking(kFriends);
  Search("X");
  EXPECT_EQ(Counts(), "6/1");
}

TEST_F(ResultGridTest, UnreadableFileEndsInTheErrorBoxAndTheMessageRow) {
  Start(kFriends);
  Search("sm");
  dir.Write("FRIENDS.VLM", "");
  ::unlink((dir / "FRIENDS.VLM").c_str());
  Click(BackButton());
  Search("sm");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); }));
  EXPECT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "File not found.");
  EXPECT_EQ(Column(4), (std::vector<QString>{"No matching entries found."}));
  EXPECT_EQ(Counts(), "6/3");  // neither count was reached
}

TEST_F(ResultGridTest, RowBeyondTheLastSelectsTheLast) {
  Start(kFriends);
  Search("sm");
  form2->RunSearch(99);
  EXPECT_EQ(form2->CurrentRow(), 3);
}

TEST_F(ResultGridTest, RightClickDeletesFromFileAndGridAfterOK) {
  Start({Rec("A", "SMALL"), Rec("B", "SMITH", "1"), Rec("B", "SMITH", "1"), Rec("C", "SMOOT"),
         Rec("D", "SMYTH")});
  dir.Write("BSMITH", "text");
  dir.Write("DSMYTH", "text");
  Search("SM");

  // Cancel: the clicked row stays current, the file untouched.
  dialogs.Queue(MsgResult::Cancel);
  RightClickRow(4);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "You are about to delete the entry for C SMOOT");
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Warning);
  EXPECT_EQ(dialogs.shown[0].buttons, MsgButtons::OKCancel);
  EXPECT_EQ(form2->CurrentRow(), 4);
  EXPECT_EQ(Surnames(Working()).size(), 5u);

  // A twin leaves the file with the clicked row, but only that row leaves
  // the grid; the row moving into its place becomes current.
  RightClickRow(2);
  EXPECT_EQ(Surnames(Working()), (std::vector<std::string>{"SMALL", "SMOOT", "SMYTH"}));
  EXPECT_EQ(Column(1), (std::vector<QString>{"SMALL", "SMITH", "SMOOT", "SMYTH"}));
  EXPECT_EQ(form2->CurrentRow(), 2);
  EXPECT_FALSE(dir.Exists("BSMITH"));
  EXPECT_EQ(Counts(), "5/5");

  // The last row: the new last row becomes current.
  RightClickRow(4);
  EXPECT_EQ(Column(1), (std::vector<QString>{"SMALL", "SMITH", "SMOOT"}));
  EXPECT_EQ(form2->CurrentRow(), 3);
  EXPECT_FALSE(dir.Exists("DSMYTH"));
}

TEST_F(ResultGridTest, ALoneEntryIsDeletedAfterTheQuestionTheMessageRowNever) {
  Start({Rec("A", "SMALL"), Rec("B", "JONES")});
  Search("SM");
  QTableView* g = form2->grid();
  QTest::mouseClick(g->viewport(), Qt::RightButton, {}, QPoint(10, g->viewport()->height() - 5));
  QTest::mouseClick(g->horizontalHeader(), Qt::RightButton, {}, QPoint(10, 5));
  EXPECT_TRUE(dialogs.shown.empty());
  RightClickRow(1);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "You are about to delete the entry for A SMALL");
  EXPECT_EQ(Surnames(Working()), (std::vector<std::string>{"JONES"}));
  EXPECT_EQ(Column(4), (std::vector<QString>{"No matching entries found."}));

  // The message row, in the grid after that delete or after a search.
  QTest::keyClick(g, Qt::Key_Delete);
  Click(BackButton());
  Search("X");
  RightClickRow(1);
  EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(ResultGridTest, FailedRewriteKeepsTheRowAndTheFile) {
  Start({Rec("A", "SMALL"), Rec("B", "SMITH")});
  Search("SM");
  const std::string before = Working();
  env.FailEvery("rename", ENOSPC);
  RightClickRow(1);
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].kind, MsgKind::Error);
  EXPECT_EQ(Working(), before);
  EXPECT_EQ(Column(1).size(), 2u);
  EXPECT_TRUE(form2->isVisible());
}

TEST_F(ResultGridTest, ShowingRunsTheSearchAndClosingBringsTheMainWindowBack) {
  Start(kFriends);
  form1->move(150, 90);
  const QPoint place = form1->geometry().topLeft();
  Search("SM");
  EXPECT_FALSE(form1->isVisible());
  EXPECT_EQ(form2->geometry().topLeft(), place);  // over the main window, wherever it stood
  form2->move(40, 30);
  form2->close();
  EXPECT_FALSE(form2->isVisible());
  EXPECT_TRUE(form1->isVisible());
  EXPECT_EQ(form1->geometry().topLeft(), place);
  EXPECT_EQ(form2->width(), TForm2::kDesignWidth);
}

}  // namespace
}  // namespace velmora
