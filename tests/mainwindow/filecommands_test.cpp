// The FILE commands of the main window, checked on disk, in the caption, in
// the working file's name and in velmora.ini after each command.
#include <QAccessible>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <cerrno>

#include "searchedit/windows_fixture.h"

namespace velmora {
namespace {

using testing::Rec;
using testing::Surnames;
using Names = std::vector<std::string>;

const char kDefaultQ[] = "Make this the default file ?";

class FileCommandsTest : public testing::WindowsTest {
 protected:
  void SetUp() override { Start({Rec("ANN", "SMITH")}); }

  QLineEdit* Entry() { return F1<QLineEdit>("MaskEdit2"); }
  QListWidget* List() { return F1<QListWidget>("FileListBox1"); }

  // A name-entry command: menu item, name typed over the kept text, OK.
  void Named(const char* menu, const char* ok, const QString& name) {
    Menu(menu);
    Entry()->clear();
    QTest::keyClicks(Entry(), name);
    Click(F1<QPushButton>(ok));
  }
  void Pick(const QString& entry) {
    const auto found = List()->findItems(entry, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << entry.toStdString();
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                      List()->visualItemRect(found[0]).center());
  }
  QStringList Listed() {
    QStringList out;
    for (int i = 0; i < List()->count(); ++i) out << List()->item(i)->text();
    return out;
  }
  std::string Default() {
    const std::string ini = dir.Read("velmora.ini");
    const size_t at = ini.find("defaultfile=") + 12;
    return ini.substr(at, ini.find('\r', at) - at);
  }
  // The working file as the program names it, and as the caption shows it.
  std::string Working() {
    EXPECT_EQ(form1->windowTitle().toStdString(), s.WorkingName);
    return s.WorkingName;
  }
};

TEST_F(FileCommandsTest, NewAndSaveAsReplaceOnlyOtherFiles) {
  const std::string friends = dir.Read("FRIENDS.VLM");
  dir.Write("OLD.VLM", "old");
  dialogs.Queue(MsgResult::Yes);  // overwrite
  dialogs.Queue(MsgResult::Yes);  // default
  Named("NEW1", "Button4", "old");
  EXPECT_EQ(dir.Read("OLD.VLM"), dir.Read("brink.vlm"));
  EXPECT_EQ(Working(), "old");
  EXPECT_EQ(Default(), "old");
  EXPECT_EQ(dialogs.shown[1].kind, MsgKind::Warning);

  dialogs.Queue(MsgResult::Yes);
  Named("NEW1", "Button4", "OLD");
  EXPECT_EQ(dialogs.shown.back().text, "Cannot overwrite current working file!");

  // SAVE AS onto the working file's own name keeps its content.
  Menu("OPEN1");
  Pick("FRIENDS.VLM");
  Click(F1<QPushButton>("Button9"));
  dialogs.shown.clear();
  dialogs.Queue(MsgResult::Yes);
  Named("SAVEAS1", "Button11", "friends");
  EXPECT_EQ(dir.Read("FRIENDS.VLM"), friends);
  EXPECT_EQ(Working(), "friends");
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].text, kDefaultQ);
  EXPECT_EQ(dialogs.shown[1].kind, MsgKind::Information);
}

TEST_F(FileCommandsTest, RenameOntoAnotherCaseLeavesOneFileSpelledAsEntered) {
  const std::string friends = dir.Read("FRIENDS.VLM");
  dir.Write("PALS.VLM", "old");
  dialogs.Queue(MsgResult::Yes);
  Named("RENAME1", "Button1", "Pals");
  EXPECT_EQ(dialogs.shown.size(), 1u);  // the default is set unasked
  EXPECT_EQ(dir.Names(), (Names{"Pals.VLM", "brink.vlm", "velmora.ini"}));
  EXPECT_EQ(dir.Read("Pals.VLM"), friends);
  EXPECT_EQ(Working(), "PALS");
  EXPECT_EQ(Default(), "PALS");
}

TEST_F(FileCommandsTest, DeleteListsDataFilesAndRefusesTheWorkingFile) {
  for (const char* f : {"b.vlm", "a.Vlm", ".hidden.vlm", "c.txt"}) dir.Write(f, "");
  Menu("DELETE1");
  EXPECT_EQ(Listed(), (QStringList{"a.Vlm", "b.vlm", "brink.vlm", "FRIENDS.VLM"}));
  Pick("FRIENDS.VLM");
  Click(F1<QPushButton>("Button1"));
  EXPECT_EQ(dialogs.shown.back().text, "Cannot delete current working file!");

  Pick("b.vlm");
  dialogs.Queue(MsgResult::Yes);
  Click(F1<QPushButton>("Button1"));
  EXPECT_EQ(dialogs.shown.back().text,
            "File b.vlm will be permanently deleted along with all entries it contains! - Are you "
            "sure?");
  EXPECT_EQ(Listed(), (QStringList{"a.Vlm", "brink.vlm", "FRIENDS.VLM"}));
  EXPECT_TRUE(List()->selectedItems().isEmpty());
  // Nothing selected: a Yes deletes nothing; the panel stays open.
  dialogs.Queue(MsgResult::Yes);
  Click(F1<QPushButton>("Button1"));
  EXPECT_EQ(dialogs.shown.back().kind, MsgKind::Warning);  // no error after the question
  EXPECT_EQ(Listed().size(), 3);
  EXPECT_TRUE(List()->isVisible());
}

TEST_F(FileCommandsTest, FailedFileStepsChangeNothingAndAreReported) {
  const Names before = dir.Names();
  auto expectUnchanged = [&](const char* error) {
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().text, error);
    EXPECT_EQ(dialogs.shown.back().title, ProgramTitle());
    EXPECT_EQ(dir.Names(), before);
    EXPECT_EQ(Working(), "FRIENDS");
    EXPECT_EQ(Default(), "friends");
    EXPECT_FALSE(F1("MaskEdit2")->isVisible());
    dialogs.shown.clear();
  };
  env.FailEvery("write", ENOSPC);
  Named("SAVEAS1", "Button11", "COPY");
  expectUnchanged("Disk full.");
  env.Heal();
  env.FailEvery("rename", EACCES);
  Named("NEW1", "Button4", "COPY");
  expectUnchanged("File access denied.");
  Named("RENAME1", "Button1", "Pals");
  expectUnchanged("File access denied.");

  env.FailEvery("remove", EACCES);
  Menu("DELETE1");
  Pick("brink.vlm");
  dialogs.Queue(MsgResult::Yes);
  Click(F1<QPushButton>("Button1"));
  EXPECT_EQ(dialogs.shown.back().text, "File access denied.");
  EXPECT_TRUE(Listed().contains("brink.vlm"));
}

TEST_F(FileCommandsTest, NameEntryTakesTwelveLettersOrDigitsAndKeepsItsText) {
  Menu("NEW1");
  QTest::keyClicks(Entry(), "Ab1-x.y z_");
  for (QChar c : QStringLiteral("\u00e9\u4e00\u0101")) {  // only the first is in the code page
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(Entry(), &key);
  }
  Menu("SAVEAS1");
  EXPECT_EQ(Entry()->displayText(), QStringLiteral("Ab1xyz\u00e9_____"));
  QTest::keyClicks(Entry(), "0123456789");
  EXPECT_EQ(Entry()->displayText(), QStringLiteral("Ab1xyz\u00e901234"));

  auto name = [](QObject* o) {
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(Entry()), "ENTER FILENAME");
  Menu("OPEN1");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(List())->child(0)->text(QAccessible::Name),
            "brink.vlm");
}

TEST_F(FileCommandsTest, OnlyOnePanelWithItsOwnOkIsShown) {
  Menu("SAVEAS1");
  Menu("RENAME1");
  Menu("OPEN1");
  Menu("DELETE1");
  for (const char* b : {"Button4", "Button9", "Button11", "MaskEdit2"})
    EXPECT_FALSE(F1(b)->isVisible()) << b;
  EXPECT_TRUE(F1("Button1")->isVisible());
  Menu("SEARCH");
  EXPECT_FALSE(F1("Button1")->isVisible());
  EXPECT_FALSE(List()->isVisible());
}

// A new user's first session, then a restart.
class FirstSessionTest : public FileCommandsTest {
 protected:
  void SetUp() override { Start({}, /*sample=*/true); }
};

TEST_F(FirstSessionTest, FromANewFileToARestart) {
  dialogs.Queue(MsgResult::Yes);
  Named("NEW1", "Button4", "FRIENDS");
  EXPECT_EQ(Default(), "FRIENDS");
  Menu("Newrecord1");
  Type("Edit1", "ANN");
  Type("Edit2", "SMITH");
  Click(F2<QPushButton>("Button4"));  // DONE
  const std::string friends = dir.Read("FRIENDS.VLM");
  EXPECT_EQ(Surnames(friends), (Names{"SMITH", "SYSTEMS"}));
  Named("SAVEAS1", "Button11", "COPY");
  EXPECT_EQ(Default(), "FRIENDS");
  Named("RENAME1", "Button1", "Pals");
  EXPECT_EQ(dir.Read("Pals.VLM"), friends);
  EXPECT_EQ(Default(), "PALS");
  Menu("OPEN1");
  Pick("FRIENDS.VLM");
  dialogs.Queue(MsgResult::Yes);
  Click(F1<QPushButton>("Button9"));
  EXPECT_EQ(Working(), "FRIENDS");
  EXPECT_EQ(Default(), "FRIENDS");
  Menu("DELETE1");
  Pick("Pals.VLM");
  dialogs.Queue(MsgResult::Yes);
  Click(F1<QPushButton>("Button1"));
  EXPECT_EQ(dir.Names(), (Names{"FRIENDS.VLM", "brink.vlm", "velmora.ini"}));

  form2.reset();
  form1.reset();
  Session again;
  TForm1 restarted(again, dir.path());
  EXPECT_EQ(restarted.windowTitle(), "FRIENDS");
  EXPECT_EQ(dir.Read("FRIENDS.VLM"), friends);
}

}  // namespace
}  // namespace velmora
