// The record group: EDIT, DONE and CANCEL in edit and add mode.
#include "support/windows_fixture.h"

#include <algorithm>

namespace velmora {
namespace {

using testing::Rec;
using testing::RecordsOf;
using testing::Surnames;

class RecordEditTest : public testing::WindowsTest {
 protected:
  void Edit(int row) {
    SelectRow(row);
    Click(EditButton());
  }
  void Done() { Click(DoneButton()); }
  // Whether the working file was replaced since the last call.
  bool Renamed() {
    const auto& log = env.log();
    const auto n = std::count(log.begin(), log.end(), "rename");
    const bool more = n > renames_;
    renames_ = n;
    return more;
  }
  long renames_ = 0;
};

TEST_F(RecordEditTest, PhoneChangeRewritesSortsAndKeepsTheRowNumber) {
  Start({Rec("A", "SMALL"), Rec("B", "SMITH", "1"), Rec("C", "SMOOT", "9", "", "hi")});
  Search("SM");
  Edit(3);
  EXPECT_EQ(form2->width(), TForm2::kNarrowWidth);
  EXPECT_EQ(SurnameLabel()->text(), "Edit details for C SMOOT.");
  EXPECT_FALSE(Field(kName)->isVisible());
  EXPECT_TRUE(ExtraTextButton()->isVisible());
  EXPECT_EQ(Field(kPhone1)->text(), "9");
  Type(kPhone1, "  777 ");
  Done();
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(form2->width(), TForm2::kDesignWidth);
  EXPECT_TRUE(form2->grid()->isVisible());
  const auto records = RecordsOf(Working());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].Texts(), (RecordTexts{"C", "SMOOT", "777", "", "hi"}));
  EXPECT_EQ(Cell(3, 2), "777");
  EXPECT_EQ(form2->CurrentRow(), 3);
  EXPECT_EQ(SurnameLabel()->text(), "&SURNAME");
}

TEST_F(RecordEditTest, OnlyARealChangeOfTheThreeFieldsIsWritten) {
  Start({Rec("A", "SMALL", "12", "34", "note")});
  Search("SM");
  Renamed();
  Edit(1);
  Done();  // nothing changed
  Edit(1);
  Type(kPhone1, "1");
  Type(kPhone2, "234");  // the three run together read the same
  Done();
  EXPECT_FALSE(Renamed());
  EXPECT_EQ(Cell(1, 2), "12");

  Edit(1);
  Type(kComments, "NOTE");
  Done();
  EXPECT_TRUE(Renamed());
  EXPECT_EQ(RecordsOf(Working())[0].Text(ContactRecord::kComments), "NOTE");
}

TEST_F(RecordEditTest, EditingATwinLeavesOneRecordAndTheRowClampsToTheLast) {
  Start({Rec(" A", "SMALL", "1"), Rec(" A", "SMALL", "1")});
  Search("SM");
  Edit(2);
  Type(kPhone1, "2");
  Done();
  const auto records = RecordsOf(Working());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Texts(), (RecordTexts{"A", "SMALL", "2", "", ""}));  // name trimmed
  EXPECT_EQ(form2->CurrentRow(), 1);
}

TEST_F(RecordEditTest, EditDoesNothingOnTheMessageRow) {
  Start({Rec("A", "SMALL")});
  Search("X");
  Edit(1);
  EXPECT_FALSE(RecordGroup()->isVisible());
  EXPECT_TRUE(dialogs.shown.empty());
}

// Imported entries can lack a NAME or SURNAME; EDIT then offers both and
// DONE asks for what is missing, as for a new entry. An entry whose texts
// read as the message row is an entry all the same.
TEST_F(RecordEditTest, AnEntryWithoutNameOrSurnameGetsItThroughEdit) {
  const struct {
    ContactRecord entry;
    const char *name, *surname;  // typed in, or nothing
    RecordTexts stored;
  } cases[] = {
      {Rec("Mom", ""), nullptr, "EK", {"Mom", "EK", "", "", ""}},
      {Rec(" ", "EK", "5"), "Bo", nullptr, {"Bo", "EK", "5", "", ""}},
      {Rec("", "", "", "", ResultModel::kNoMatch),
       "Al",
       "LI",
       {"Al", "LI", "", "", "No matching entries found."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.name);
    Start({c.entry});
    Search("");
    Edit(1);
    ASSERT_TRUE(InEditMode());
    EXPECT_TRUE(Field(kName)->isVisible());
    EXPECT_TRUE(Field(kSurname)->isVisible());
    EXPECT_FALSE(ExtraTextButton()->isVisible());
    Done();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Name and surname fields are mandatory.");
    dialogs.shown.clear();
    if (c.name) Type(kName, c.name);
    if (c.surname) Type(kSurname, c.surname);
    Done();
    const auto records = RecordsOf(Working());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Texts(), c.stored);
  }
}

TEST_F(RecordEditTest, EditRefusesTheSampleFile) {
  Start({}, /*sample=*/true);
  Search("");
  Edit(1);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "You cannot edit this file. - Open or create a different file.");
  EXPECT_FALSE(RecordGroup()->isVisible());
}

TEST_F(RecordEditTest, FailedRewriteLeavesGridAndFileAsTheyWere) {
  Start({Rec("A", "SMALL", "1")});
  Search("SM");
  Edit(1);
  Type(kPhone1, "2");
  env.FailEvery("rename", EACCES);
  Done();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "File access denied.");
  EXPECT_EQ(RecordsOf(Working())[0].Text(ContactRecord::kPhone1), "1");
  EXPECT_EQ(Cell(1, 2), "1");  // the grid does not claim what the file lacks
}

TEST_F(RecordEditTest, AddModeStoresAsTypedCutAndRefusesABlankName) {
  Start({Rec("A", "ZED")});
  Menu("NEW RECORD");
  Type(kName, "   ");
  Type(kSurname, "SMITH");
  Done();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "Name and surname fields are mandatory.");
  EXPECT_TRUE(RecordGroup()->isVisible());

  Type(kName, " Jo");
  Field(kName)->insert(QString::fromUtf8("\u4e00"));  // outside the code page
  Type(kPhone1, QString(25, '1'));
  Type(kComments, QString(60, 'c'));
  dialogs.Queue(MsgResult::Yes);  // store it as "?"
  Done();
  EXPECT_FALSE(form2->isVisible());
  EXPECT_TRUE(form1->isVisible());
  const auto records = RecordsOf(Working());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Texts(),
            (RecordTexts{" Jo?", "SMITH", std::string(20, '1'), "", std::string(50, 'c')}));
  EXPECT_EQ(Surnames(Working())[1], "ZED");
}

TEST_F(RecordEditTest, ClosingInEditModeLeavesAddModeAllFiveFields) {
  Start({Rec("A", "SMALL")});
  Search("SM");
  Edit(1);
  form2->close();
  EXPECT_TRUE(form1->isVisible());
  Menu("NEW RECORD");
  for (QWidget* w : std::initializer_list<QWidget*>{Field(kName), Field(kSurname), NameLabel()})
    EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(SurnameLabel()->text(), "&SURNAME");

  // CANCEL in edit mode keeps the results view and its current row.
  Click(CancelEditButton());
  Search("SM");
  Edit(1);
  Click(CancelEditButton());
  EXPECT_TRUE(form2->isVisible());
  EXPECT_TRUE(form2->grid()->isVisible());
  EXPECT_EQ(form2->CurrentRow(), 1);
}

}  // namespace
}  // namespace velmora
