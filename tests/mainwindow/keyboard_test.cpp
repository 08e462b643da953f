// The address book without a mouse: every command reached by keys alone.
#include <QAccessible>
#include <QMenuBar>
#include <sys/stat.h>

#include "support/printer.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::FileOf;
using testing::Rec;
using testing::RecordingPrinter;
using testing::RecordsOf;

// Counts every mouse event the program receives.
class MouseWatch : public QObject {
 public:
  MouseWatch() { qApp->installEventFilter(this); }
  ~MouseWatch() override { qApp->removeEventFilter(this); }
  int events = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    const auto t = e->type();
    if (t == QEvent::MouseButtonPress || t == QEvent::MouseButtonRelease ||
        t == QEvent::MouseButtonDblClick || t == QEvent::MouseMove || t == QEvent::Wheel)
      ++events;
    return false;
  }
};

class KeyboardTest : public testing::WindowsTest {
 protected:
  void StartActive(const std::vector<ContactRecord>& records) {
    Start(records);
    form1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form1.get()));
  }
  QString CurrentName() {
    const int row = form2->CurrentRow();
    return row == 0 ? QString() : Cell(row, 0);
  }
  // Up or down the grid until the row of `name` is current.
  void KeyToRow(const QString& name) {
    Press(Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 20 && CurrentName() != name; ++i) Press(Qt::Key_Down);
    ASSERT_EQ(CurrentName(), name);
  }
  bool HasFocus(QWidget* w) { return QApplication::focusWidget() == w; }
  QMenu* FileMenu() { return form1->findChild<QMenu*>("FILE1"); }
};

TEST_F(KeyboardTest, AWholeSessionWithoutAMouse) {
  MouseWatch mouse;
  RecordingPrinter printer;
  testing::TestDir viewerDir;
  viewerDir.Write("tolka", "#!/bin/sh\ntouch '" + viewerDir / "ran" + "'\n");
  ::chmod((viewerDir / "tolka").c_str(), 0755);
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (viewerDir.path() + ":" + path).c_str(), 1);
  dir.Write("WORK.VLM", FileOf({Rec("DEE", "SMART"), Rec("EVE", "SMOOT"), Rec("FAY", "SMYTH")}));
  dir.Write("EVESMOOT", "Eve's own page");
  StartActive({Rec("ANN", "ADAMS")});

  // FILE, NEW, Escape; FILE, OPEN, down the list to WORK, Enter.
  Press(Qt::Key_F, Qt::AltModifier);
  Press(Qt::Key_N);
  Press(Qt::Key_Escape);
  EXPECT_FALSE(FileNameEntry()->isVisible());
  Press(Qt::Key_F, Qt::AltModifier);
  Press(Qt::Key_O);
  ASSERT_TRUE(HasFocus(FileList()));
  for (int i = 0;
       i < 5 && !(FileList()->currentItem() && FileList()->currentItem()->text() == "WORK.VLM");
       ++i)
    Press(Qt::Key_Down);
  dialogs.Queue(MsgResult::No);  // not the default file
  Press(Qt::Key_Return);
  EXPECT_EQ(form1->windowTitle(), "WORK");

  // SEARCH/EDIT, "S" typed, "M" picked in the letters (arrows move, Space
  // picks, typing there adds nothing), Enter in the field.
  Press(Qt::Key_S, Qt::AltModifier);
  ASSERT_TRUE(HasFocus(SearchField()));
  PressTyping("S");
  ASSERT_TRUE(TabTo(Letters()));
  for (int i = 0; i < 12; ++i) Press(Qt::Key_Right);
  PressTyping("x");
  Press(Qt::Key_Space);
  EXPECT_EQ(SearchField()->text(), "SM");
  ASSERT_TRUE(TabTo(SearchField()));
  Press(Qt::Key_Return);
  ASSERT_TRUE(form2->isVisible());
  EXPECT_EQ(form2->GridRowCount(), 4);
  EXPECT_TRUE(HasFocus(form2->grid()));

  // EDIT on FAY's row, Escape is CANCEL; again by its access key, a new
  // PHONE1, Enter on DONE.
  KeyToRow("FAY");
  ASSERT_TRUE(TabTo(EditButton()));
  Press(Qt::Key_Space);
  ASSERT_TRUE(InEditMode());
  Press(Qt::Key_Escape);
  ASSERT_TRUE(HasFocus(form2->grid()));
  Press(Qt::Key_E, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return HasFocus(Field(kPhone1)); }));
  PressTyping("555");
  ASSERT_TRUE(TabTo(DoneButton()));
  Press(Qt::Key_Return);
  EXPECT_EQ(RecordsOf(dir.Read("WORK.VLM"))[2].Text(ContactRecord::kPhone1), "555");
  EXPECT_TRUE(HasFocus(form2->grid()));

  // Enter opens EVE's extra text, Escape closes it.
  KeyToRow("EVE");
  Press(Qt::Key_Return);
  ASSERT_TRUE(Viewer()->isVisible());
  EXPECT_EQ(Viewer()->toPlainText(), "Eve's own page");
  Press(Qt::Key_Escape);
  EXPECT_FALSE(Viewer()->isVisible());
  EXPECT_TRUE(HasFocus(form2->grid()));

  // The menu key and Shift+F10 ask as Delete does; Cancel, Cancel, OK.
  KeyToRow("DEE");
  dialogs.Queue(MsgResult::Cancel);
  Press(Qt::Key_Menu);
  dialogs.Queue(MsgResult::Cancel);
  Press(Qt::Key_F10, Qt::ShiftModifier);
  Press(Qt::Key_Delete);
  ASSERT_EQ(dialogs.shown.size(), 4u);
  for (size_t i = 1; i < 4; ++i)
    EXPECT_EQ(dialogs.shown[i].text, "You are about to delete the entry for DEE SMART");
  EXPECT_EQ(RecordsOf(dir.Read("WORK.VLM")).size(), 2u);

  // PRINT, then Escape is BACK.
  ASSERT_TRUE(TabTo(PrintButton()));
  Press(Qt::Key_Space);
  EXPECT_EQ(printer.ended, 1);
  Press(Qt::Key_Escape);
  EXPECT_FALSE(form2->isVisible());
  ASSERT_TRUE(form1->isVisible());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form1.get()));

  // HELP, then F10 (FILE), EXIT.
  Press(Qt::Key_H, Qt::AltModifier);
  EXPECT_TRUE(viewerDir.Exists("ran"));
  Press(Qt::Key_F10);
  ASSERT_EQ(QApplication::activePopupWidget(), FileMenu());
  Press(Qt::Key_X);
  EXPECT_FALSE(form1->isVisible());

  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(dialogs.shown.size(), 4u);
  EXPECT_EQ(mouse.events, 0);
}

TEST_F(KeyboardTest, AltAloneReachesTheMenuBarWhoseCaptionsStayAsTheyWere) {
  StartActive({});
  QMenuBar* bar = form1->menuBar();
  QTest::keyPress(form1.get(), Qt::Key_Alt, Qt::AltModifier);
  QTest::keyRelease(form1.get(), Qt::Key_Alt);
  EXPECT_NE(bar->activeAction(), nullptr) << "Alt left the menu bar asleep";
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  Press(Qt::Key_Escape);

  // Underlined letters only: screen readers announce the captions.
  auto announced = [](QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    QStringList names;
    for (int i = 0; i < a->childCount(); ++i) names << a->child(i)->text(QAccessible::Name);
    return names.join(",");
  };
  EXPECT_EQ(announced(bar), "FILE,NEW RECORD,SEARCH/EDIT,HELP,SYNC");
  EXPECT_EQ(announced(FileMenu()), "NEW,OPEN,SAVE AS,RENAME,DELETE,EXIT");
  // S is SEARCH/EDIT's: Y opens SYNC, whose items are N and A.
  auto* sync = form1->findChild<QMenu*>("SYNC1");
  EXPECT_EQ(announced(sync), "SYNC NOW,ACCOUNT...");
  Press(Qt::Key_Y, Qt::AltModifier);
  EXPECT_EQ(QApplication::activePopupWidget(), sync);
  EXPECT_EQ(sync->actions()[0]->text() + sync->actions()[1]->text(), "SY&NC NOW&ACCOUNT...");
  Press(Qt::Key_Escape);
}

TEST_F(KeyboardTest, TabFollowsTheReadingOrder) {
  StartActive({Rec("ANN", "SMITH")});
  auto chain = [&](int steps) {
    QStringList names;
    for (int i = 0; i < steps; ++i) {
      QWidget* at = QApplication::focusWidget();
      names << (at ? at->objectName() : QStringLiteral("(none)"));
      Press(Qt::Key_Tab);
    }
    return names.join(",");
  };
  Menu("SEARCH/EDIT");
  Press(Qt::Key_Tab, Qt::ShiftModifier);  // from the search field back to Clear all
  ASSERT_TRUE(TabTo(Letters()));
  EXPECT_EQ(chain(8), "StringGrid1,Button2,Button8,Edit1,RadioButton2,Button6,Button7,StringGrid1");
  Search("SM");
  ASSERT_TRUE(QTest::qWaitForWindowActive(form2.get()));
  EXPECT_EQ(chain(5), "StringGrid1,Button3,Button1,Button8,StringGrid1");
  Click(EditButton());
  EXPECT_EQ(chain(7), "Edit3,Edit4,Edit5,Button5,Button4,Button9,Edit3");
}

}  // namespace
}  // namespace velmora
