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

  // FILE, OPEN, down the list to WORK, Enter.
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

  // SEARCH/EDIT, type, Enter.
  Press(Qt::Key_S, Qt::AltModifier);
  ASSERT_TRUE(HasFocus(SearchField()));
  PressTyping("SM");
  Press(Qt::Key_Return);
  ASSERT_TRUE(form2->isVisible());
  EXPECT_EQ(form2->GridRowCount(), 4);
  EXPECT_TRUE(HasFocus(form2->grid()));

  // EDIT on FAY's row, a new PHONE1, DONE.
  KeyToRow("FAY");
  ASSERT_TRUE(TabTo(EditButton()));
  Press(Qt::Key_Space);
  ASSERT_TRUE(InEditMode());
  ASSERT_TRUE(HasFocus(Field(kPhone1)));
  PressTyping("555");
  ASSERT_TRUE(TabTo(DoneButton()));
  Press(Qt::Key_Space);
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

  // Delete asks, OK deletes.
  KeyToRow("DEE");
  Press(Qt::Key_Delete);
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].text, "You are about to delete the entry for DEE SMART");
  EXPECT_EQ(RecordsOf(dir.Read("WORK.VLM")).size(), 2u);

  // PRINT, then Escape is BACK.
  ASSERT_TRUE(TabTo(PrintButton()));
  Press(Qt::Key_Space);
  EXPECT_EQ(printer.ended, 1);
  Press(Qt::Key_Escape);
  EXPECT_FALSE(form2->isVisible());
  ASSERT_TRUE(form1->isVisible());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form1.get()));

  // HELP, then FILE, EXIT.
  Press(Qt::Key_H, Qt::AltModifier);
  EXPECT_TRUE(viewerDir.Exists("ran"));
  Press(Qt::Key_F, Qt::AltModifier);
  Press(Qt::Key_X);
  EXPECT_FALSE(form1->isVisible());

  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(mouse.events, 0);
}

TEST_F(KeyboardTest, TheMenuBarOpensByF10AndByAltAndKeepsItsCaptions) {
  StartActive({});
  QMenuBar* bar = form1->menuBar();
  Press(Qt::Key_F10);
  EXPECT_EQ(QApplication::activePopupWidget(), FileMenu());
  Press(Qt::Key_Escape);
  Press(Qt::Key_Escape);
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
  EXPECT_EQ(announced(bar), "FILE,NEW RECORD,SEARCH/EDIT,HELP");
  EXPECT_EQ(announced(FileMenu()), "NEW,OPEN,SAVE AS,RENAME,DELETE,EXIT");
}

TEST_F(KeyboardTest, LettersMoveByArrowsAndArePickedBySpaceOrEnter) {
  StartActive({});
  Menu("SEARCH/EDIT");
  ASSERT_TRUE(TabTo(Letters()));
  for (int key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Down, Qt::Key_Left}) Press(key);
  EXPECT_EQ(SearchField()->text(), "");
  Press(Qt::Key_Space);
  Press(Qt::Key_Right);
  Press(Qt::Key_Return);
  EXPECT_EQ(SearchField()->text(), "OP");
  PressTyping("x");  // typed letters go nowhere
  EXPECT_EQ(SearchField()->text(), "OP");
}

TEST_F(KeyboardTest, EnterAndEscapeInTheFilePanelsAndTheRecordGroup) {
  StartActive({Rec("ANN", "ADAMS")});
  Menu("NEW");
  Press(Qt::Key_Escape);
  EXPECT_FALSE(FileNameEntry()->isVisible());
  Menu("NEW");
  PressTyping("PALS");
  Press(Qt::Key_Return);
  EXPECT_TRUE(dir.Exists("PALS.VLM"));
  EXPECT_FALSE(FileNameEntry()->isVisible());
  EXPECT_EQ(form1->windowTitle(), "PALS");

  Press(Qt::Key_N, Qt::AltModifier);  // NEW RECORD
  ASSERT_TRUE(form2->isVisible() && form2->InAddMode());
  form2->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form2.get()));
  PressTyping("ZED");
  Press(Qt::Key_Escape);  // CANCEL
  EXPECT_FALSE(form2->isVisible());
  EXPECT_TRUE(form1->isVisible());
  EXPECT_EQ(dir.Read("PALS.VLM"), FileOf({Rec("BRINK", "SYSTEMS", "(000)555-0147", "(000)555-0182",
                                              "Sample entry, do not edit")}));
}

TEST_F(KeyboardTest, EachDeleteKeyAsksTheQuestionOfARightClick) {
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  } kDeleteKeys[] = {{Qt::Key_Delete, Qt::NoModifier},
                     {Qt::Key_Menu, Qt::NoModifier},
                     {Qt::Key_F10, Qt::ShiftModifier}};
  StartActive({Rec("ANN", "SMITH"), Rec("BOB", "SMALL")});
  Search("SM");
  for (const auto& k : kDeleteKeys) {
    dialogs.Queue(MsgResult::Cancel);
    QTest::keyClick(form2->grid(), k.key, k.modifiers);
  }
  ASSERT_EQ(dialogs.shown.size(), 3u);
  for (const MessageRequest& r : dialogs.shown)
    EXPECT_EQ(r.text, "You are about to delete the entry for ANN SMITH");
  EXPECT_EQ(RecordsOf(Working()).size(), 2u);
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
