// The search-entry panel and NEW RECORD of the main window.
#include <QAccessible>
#include <QMenu>

#include "store/startup.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Rec;

class SearchEntryTest : public testing::WindowsTest {
 protected:
  void SetUp() override { Start({Rec("ANN", "SMITH")}); }
};

TEST_F(SearchEntryTest, PanelOpensWithTheLettersAndAnEmptyFieldAndHidesAgain) {
  auto* grid = Letters();
  EXPECT_FALSE(grid->isVisible());
  Menu("SEARCH/EDIT");
  ASSERT_TRUE(grid->isVisible());
  EXPECT_EQ(grid->item(0, 0)->text(), "A");
  EXPECT_EQ(grid->item(0, 12)->text(), "M");
  EXPECT_EQ(grid->item(1, 0)->text(), "N");
  EXPECT_EQ(grid->item(1, 12)->text(), "Z");
  EXPECT_TRUE(SearchField()->text().isEmpty());
  EXPECT_TRUE(BySurnameChoice()->isChecked());

  // Opening the FILE menu hides the panel but keeps the text.
  QTest::keyClicks(SearchField(), "ab");
  OpenFileMenu();
  EXPECT_FALSE(grid->isVisible());
  EXPECT_FALSE(SearchField()->isVisible());
  EXPECT_EQ(SearchField()->text(), "ab");
}

TEST_F(SearchEntryTest, LettersArePickedByClickAndByKeyboardUpTo16) {
  Menu("SEARCH/EDIT");
  for (char c : {'B', 'R', 'O', 'W', 'W', 'W'}) PickLetter(c);
  EXPECT_EQ(SearchField()->text(), "BROWWW");

  // The selected cell is now W; Right moves to X without picking it,
  // Space picks it.
  auto* grid = Letters();
  grid->setFocus();
  QTest::keyClick(grid, Qt::Key_Right);
  QTest::keyClick(grid, Qt::Key_Space);
  EXPECT_EQ(SearchField()->text(), "BROWWWX");

  for (int i = 0; i < 12; ++i) PickLetter('Z');
  EXPECT_EQ(SearchField()->text(), "BROWWWXZZZZZZZZZ");
  SearchField()->clear();
  QTest::keyClicks(SearchField(), "abcdefghijklmnopqrstu");
  EXPECT_EQ(SearchField()->text(), "abcdefghijklmnop");
}

TEST_F(SearchEntryTest, ClearingButtons) {
  Menu("SEARCH/EDIT");
  auto clearLast = [&](const QString& before) {
    SearchField()->setText(before);
    Click(ClearLastButton());
    return SearchField()->text();
  };
  EXPECT_EQ(clearLast("SMITH"), "SMIT");
  EXPECT_EQ(clearLast("AB "), "A");
  EXPECT_EQ(clearLast(""), "");
  SearchField()->setText("SM");
  Click(ClearAllButton());
  EXPECT_EQ(SearchField()->text(), "");
}

TEST_F(SearchEntryTest, StartSearchKeepsTheTextCancelAndReopenEmptyItAndByNameStays) {
  Search("sm", /*byName=*/true);
  EXPECT_FALSE(SearchField()->isVisible());
  EXPECT_EQ(SearchField()->text(), "sm");
  EXPECT_TRUE(form2->isVisible());
  EXPECT_FALSE(form1->isVisible());

  Click(BackButton());  // BACK
  EXPECT_TRUE(form1->isVisible());
  Menu("SEARCH/EDIT");
  EXPECT_EQ(SearchField()->text(), "");
  EXPECT_TRUE(ByNameChoice()->isChecked());

  QTest::keyClicks(SearchField(), "x");
  Click(CancelSearchButton());  // CANCEL
  EXPECT_FALSE(SearchField()->isVisible());
  EXPECT_EQ(SearchField()->text(), "");
}

TEST_F(SearchEntryTest, FieldsAndButtonsAreNamedForScreenReaders) {
  auto name = [](QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(SearchField()), "ENTER SEARCH STRING");
  EXPECT_EQ(name(StartSearchButton()), "START SEARCH");
  const char* labels[] = {"NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"};
  for (int f = kName; f <= kComments; ++f) EXPECT_EQ(name(Field(RecordField(f))), labels[f]);
}

class NewRecordTest : public testing::WindowsTest {};

TEST_F(NewRecordTest, RefusedOnTheSampleFile) {
  Start({}, /*sample=*/true);
  Menu("NEW RECORD");
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "You cannot edit this file. - Open or create a different file.");
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Information);
  EXPECT_TRUE(form1->isVisible());
  EXPECT_FALSE(form2->isVisible());
}

TEST_F(NewRecordTest, OpensTheNarrowWindowWithFiveEmptyFieldsAndLeavesThePanelAsItWas) {
  Start({Rec("ANN", "SMITH")});
  Menu("SEARCH/EDIT");
  QTest::keyClicks(SearchField(), "SM");
  Menu("NEW RECORD");
  EXPECT_FALSE(form1->isVisible());
  ASSERT_TRUE(form2->isVisible());
  EXPECT_EQ(form2->width(), TForm2::kNarrowWidth);
  EXPECT_TRUE(form2->InAddMode());
  EXPECT_FALSE(form2->grid()->isVisible());
  EXPECT_FALSE(ExtraTextButton()->isVisible());
  for (int f = kName; f <= kComments; ++f) {
    EXPECT_TRUE(Field(RecordField(f))->isVisible()) << f;
    EXPECT_TRUE(Field(RecordField(f))->text().isEmpty()) << f;
  }
  Click(CancelEditButton());  // CANCEL closes add mode
  EXPECT_FALSE(form2->isVisible());
  EXPECT_TRUE(SearchField()->isVisible());
  EXPECT_EQ(SearchField()->text(), "SM");
}

}  // namespace
}  // namespace velmora
