// The search-entry panel and NEW RECORD of the main window.
#include <QAccessible>
#include <QMenu>

#include "searchedit/windows_fixture.h"
#include "store/startup.h"

namespace velmora {
namespace {

using testing::Rec;

class SearchEntryTest : public testing::WindowsTest {
 protected:
  void SetUp() override { Start({Rec("ANN", "SMITH")}); }
  QLineEdit* Field() { return F1<QLineEdit>("Edit1"); }
};

TEST_F(SearchEntryTest, PanelOpensWithTheLettersAndAnEmptyFieldAndHidesAgain) {
  auto* grid = F1<LetterGrid>("StringGrid1");
  EXPECT_FALSE(grid->isVisible());
  Menu("SEARCH");
  ASSERT_TRUE(grid->isVisible());
  EXPECT_EQ(grid->item(0, 0)->text(), "A");
  EXPECT_EQ(grid->item(0, 12)->text(), "M");
  EXPECT_EQ(grid->item(1, 0)->text(), "N");
  EXPECT_EQ(grid->item(1, 12)->text(), "Z");
  EXPECT_TRUE(Field()->text().isEmpty());
  EXPECT_TRUE(F1<QRadioButton>("RadioButton2")->isChecked());

  // Opening the FILE menu hides the panel but keeps the text.
  QTest::keyClicks(Field(), "ab");
  QMetaObject::invokeMethod(form1->findChild<QMenu*>("FILE1"), "aboutToShow");
  EXPECT_FALSE(grid->isVisible());
  EXPECT_FALSE(Field()->isVisible());
  EXPECT_EQ(Field()->text(), "ab");
}

TEST_F(SearchEntryTest, LettersArePickedByClickAndByKeyboardUpTo16) {
  Menu("SEARCH");
  for (char c : {'B', 'R', 'O', 'W', 'W', 'W'}) PickLetter(c);
  EXPECT_EQ(Field()->text(), "BROWWW");

  // The selected cell is now W; Right moves to X, Down (already in the
  // second row) moves nothing and picks nothing.
  auto* grid = F1<LetterGrid>("StringGrid1");
  grid->setFocus();
  QTest::keyClick(grid, Qt::Key_Right);
  QTest::keyClick(grid, Qt::Key_Down);
  EXPECT_EQ(Field()->text(), "BROWWWX");

  for (int i = 0; i < 12; ++i) PickLetter('Z');
  EXPECT_EQ(Field()->text(), "BROWWWXZZZZZZZZZ");
  Field()->clear();
  QTest::keyClicks(Field(), "abcdefghijklmnopqrstu");
  EXPECT_EQ(Field()->text(), "abcdefghijklmnop");
}

TEST_F(SearchEntryTest, ClearingButtons) {
  Menu("SEARCH");
  auto clearLast = [&](const QString& before) {
    Field()->setText(before);
    Click(F1<QPushButton>("Button2"));
    return Field()->text();
  };
  EXPECT_EQ(clearLast("SMITH"), "SMIT");
  EXPECT_EQ(clearLast("AB "), "A");
  EXPECT_EQ(clearLast(""), "");
  Field()->setText("SM");
  Click(F1<QPushButton>("Button8"));
  EXPECT_EQ(Field()->text(), "");
}

TEST_F(SearchEntryTest, StartSearchKeepsTheTextCancelAndReopenEmptyItAndByNameStays) {
  Search("sm", /*byName=*/true);
  EXPECT_FALSE(Field()->isVisible());
  EXPECT_EQ(Field()->text(), "sm");
  EXPECT_TRUE(form2->isVisible());
  EXPECT_FALSE(form1->isVisible());

  Click(F2<QPushButton>("Button8"));  // BACK
  EXPECT_TRUE(form1->isVisible());
  Menu("SEARCH");
  EXPECT_EQ(Field()->text(), "");
  EXPECT_TRUE(F1<QRadioButton>("RadioButton1")->isChecked());

  QTest::keyClicks(Field(), "x");
  Click(F1<QPushButton>("Button7"));  // CANCEL
  EXPECT_FALSE(Field()->isVisible());
  EXPECT_EQ(Field()->text(), "");
}

TEST_F(SearchEntryTest, FieldsAndButtonsAreNamedForScreenReaders) {
  auto name = [](QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(Field()), "ENTER SEARCH STRING");
  EXPECT_EQ(name(F1("Button6")), "START SEARCH");
  const char* fields[] = {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5"};
  const char* labels[] = {"NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(name(F2(fields[i])), labels[i]);
}

class NewRecordTest : public testing::WindowsTest {};

TEST_F(NewRecordTest, RefusedOnTheSampleFile) {
  Start({}, /*sample=*/true);
  Menu("Newrecord1");
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "You cannot edit this file. - Open or create a different file.");
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Information);
  EXPECT_TRUE(form1->isVisible());
  EXPECT_FALSE(form2->isVisible());
}

TEST_F(NewRecordTest, OpensTheNarrowWindowWithFiveEmptyFieldsAndLeavesThePanelAsItWas) {
  Start({Rec("ANN", "SMITH")});
  Menu("SEARCH");
  QTest::keyClicks(F1<QLineEdit>("Edit1"), "SM");
  Menu("Newrecord1");
  EXPECT_FALSE(form1->isVisible());
  ASSERT_TRUE(form2->isVisible());
  EXPECT_EQ(form2->width(), TForm2::kNarrowWidth);
  EXPECT_TRUE(form2->InAddMode());
  EXPECT_FALSE(form2->grid()->isVisible());
  EXPECT_FALSE(F2("Button5")->isVisible());
  for (const char* e : {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5"}) {
    EXPECT_TRUE(F2(e)->isVisible()) << e;
    EXPECT_TRUE(F2<QLineEdit>(e)->text().isEmpty()) << e;
  }
  Click(F2<QPushButton>("Button9"));  // CANCEL closes add mode
  EXPECT_FALSE(form2->isVisible());
  EXPECT_TRUE(F1("Edit1")->isVisible());
  EXPECT_EQ(F1<QLineEdit>("Edit1")->text(), "SM");
}

}  // namespace
}  // namespace velmora
