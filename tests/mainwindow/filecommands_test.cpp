// The FILE commands of the main window, checked on disk, in the caption, in
// the working file's name and in velmora.ini after each command.
#include <QAccessible>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <cerrno>

#include "support/windows_fixture.h"
#include "sync/account.h"

namespace velmora {
namespace {

using testing::Rec;
using testing::Surnames;
using Names = std::vector<std::string>;

const char kDefaultQ[] = "Make this the default file ?";

class FileCommandsTest : public testing::WindowsTest {
 protected:
  void SetUp() override { Start({Rec("ANN", "SMITH")}); }

  // A name-entry command: menu item, name typed over the kept text, OK.
  void Named(const char* menu, QPushButton* ok, const QString& name) {
    Menu(menu);
    FileNameEntry()->clear();
    QTest::keyClicks(FileNameEntry(), name);
    Click(ok);
  }
  void Pick(const QString& entry) {
    const auto found = FileList()->findItems(entry, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << entry.toStdString();
    QTest::mouseClick(FileList()->viewport(), Qt::LeftButton, {},
                      FileList()->visualItemRect(found[0]).center());
  }
  QStringList Listed() {
    QStringList out;
    for (int i = 0; i < FileList()->count(); ++i) out << FileList()->item(i)->text();
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
  dir.Write(".OLD.VLM.sync", "its sync state");
  dialogs.Queue(MsgResult::Yes);  // overwrite
  dialogs.Queue(MsgResult::Yes);  // default
  Named("NEW", NewOkButton(), "old");
  EXPECT_EQ(dir.Read("OLD.VLM"), dir.Read("brink.vlm"));
  EXPECT_FALSE(dir.Exists(".OLD.VLM.sync"));
  EXPECT_EQ(Working(), "old");
  EXPECT_EQ(Default(), "old");
  EXPECT_EQ(dialogs.shown[1].kind, MsgKind::Warning);

  dialogs.Queue(MsgResult::Yes);
  Named("NEW", NewOkButton(), "OLD");
  EXPECT_EQ(dialogs.shown.back().text, "Cannot overwrite current working file!");

  // SAVE AS onto the working file's own name keeps its content.
  Menu("OPEN");
  Pick("FRIENDS.VLM");
  Click(OpenOkButton());
  dialogs.shown.clear();
  dialogs.Queue(MsgResult::Yes);
  Named("SAVE AS", SaveAsOkButton(), "friends");
  EXPECT_EQ(dir.Read("FRIENDS.VLM"), friends);
  EXPECT_EQ(Working(), "friends");
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].text, kDefaultQ);
  EXPECT_EQ(dialogs.shown[1].kind, MsgKind::Information);
}

TEST_F(FileCommandsTest, RenameOntoAnotherCaseLeavesOneFileSpelledAsEntered) {
  const std::string friends = dir.Read("FRIENDS.VLM");
  dir.Write("PALS.VLM", "old");
  dir.Write(".FRIENDS.VLM.sync", "friends' state");
  dir.Write(".PALS.VLM.sync", "old pals' state");
  SaveAccount(s, {"dav.example.org", "ann", "https://dav.example.org/ann/book/", "FRIENDS.VLM", ""});
  dialogs.Queue(MsgResult::Yes);
  Named("RENAME", RenameDeleteOkButton(), "Pals");
  EXPECT_EQ(LoadAccount(s)->dataFile, "PALS.VLM");
  EXPECT_EQ(dialogs.shown.size(), 1u);  // the default is set unasked
  EXPECT_EQ(dir.Names(), (Names{".Pals.VLM.sync", "Pals.VLM", "brink.vlm", "velmora.ini"}));
  EXPECT_EQ(dir.Read("Pals.VLM"), friends);
  EXPECT_EQ(dir.Read(".Pals.VLM.sync"), "friends' state");
  EXPECT_EQ(Working(), "PALS");
  EXPECT_EQ(Default(), "PALS");
}

TEST_F(FileCommandsTest, DeleteListsDataFilesAndRefusesTheWorkingFile) {
  for (const char* f : {"b.vlm", "a.Vlm", ".hidden.vlm", "c.txt"}) dir.Write(f, "");
  Menu("DELETE");
  EXPECT_EQ(Listed(), (QStringList{"a.Vlm", "b.vlm", "brink.vlm", "FRIENDS.VLM"}));
  Pick("FRIENDS.VLM");
  Click(RenameDeleteOkButton());
  EXPECT_EQ(dialogs.shown.back().text, "Cannot delete current working file!");

  dir.Write(".B.VLM.sync", "b's state");
  Pick("b.vlm");
  dialogs.Queue(MsgResult::Yes);
  Click(RenameDeleteOkButton());
  EXPECT_EQ(dialogs.shown.back().text,
            "File b.vlm will be permanently deleted along with all entries it contains! - Are you "
            "sure?");
  EXPECT_EQ(Listed(), (QStringList{"a.Vlm", "brink.vlm", "FRIENDS.VLM"}));
  EXPECT_FALSE(dir.Exists(".B.VLM.sync"));
  EXPECT_TRUE(FileList()->selectedItems().isEmpty());
  // Nothing selected: a Yes deletes nothing; the panel stays open.
  dialogs.Queue(MsgResult::Yes);
  Click(RenameDeleteOkButton());
  EXPECT_EQ(dialogs.shown.back().kind, MsgKind::Warning);  // no error after the question
  EXPECT_EQ(Listed().size(), 3);
  EXPECT_TRUE(FileList()->isVisible());
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
    EXPECT_FALSE(FileNameEntry()->isVisible());
    dialogs.shown.clear();
  };
  env.FailEvery("write", ENOSPC);
  Named("SAVE AS", SaveAsOkButton(), "COPY");
  expectUnchanged("Disk full.");
  env.Heal();
  env.FailEvery("rename", EACCES);
  Named("NEW", NewOkButton(), "COPY");
  expectUnchanged("File access denied.");
  Named("RENAME", RenameDeleteOkButton(), "Pals");
  expectUnchanged("File access denied.");

  env.FailEvery("remove", EACCES);
  Menu("DELETE");
  Pick("brink.vlm");
  dialogs.Queue(MsgResult::Yes);
  Click(RenameDeleteOkButton());
  EXPECT_EQ(dialogs.shown.back().text, "File access denied.");
  EXPECT_TRUE(Listed().contains("brink.vlm"));
}

TEST_F(FileCommandsTest, NameEntryTakesTwelveLettersOrDigitsAndKeepsItsText) {
  Menu("NEW");
  QTest::keyClicks(FileNameEntry(), "Ab1-x.y z_");
  for (QChar c : QStringLiteral("\u00e9\u4e00\u0101")) {  // only the first is in the code page
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(FileNameEntry(), &key);
  }
  Menu("SAVE AS");
  EXPECT_EQ(FileNameEntry()->displayText(), QStringLiteral("Ab1xyz\u00e9_____"));
  QTest::keyClicks(FileNameEntry(), "0123456789");
  EXPECT_EQ(FileNameEntry()->displayText(), QStringLiteral("Ab1xyz\u00e901234"));

  auto name = [](QObject* o) {
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
  };
  EXPECT_EQ(name(FileNameEntry()), "ENTER FILENAME");
  Menu("OPEN");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(FileList())->child(0)->text(QAccessible::Name),
            "brink.vlm");
}

TEST_F(FileCommandsTest, OnlyOnePanelWithItsOwnOkIsShown) {
  Menu("SAVE AS");
  Menu("RENAME");
  Menu("OPEN");
  Menu("DELETE");
  for (QWidget* w : std::initializer_list<QWidget*>{NewOkButton(), OpenOkButton(), SaveAsOkButton(),
                                                    FileNameEntry()})
    EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
  EXPECT_TRUE(RenameDeleteOkButton()->isVisible());
  Menu("SEARCH/EDIT");
  EXPECT_FALSE(RenameDeleteOkButton()->isVisible());
  EXPECT_FALSE(FileList()->isVisible());
}

// A new user's first session, then a restart.
class FirstSessionTest : public FileCommandsTest {
 protected:
  void SetUp() override { Start({}, /*sample=*/true); }
};

TEST_F(FirstSessionTest, FromANewFileToARestart) {
  dialogs.Queue(MsgResult::Yes);
  Named("NEW", NewOkButton(), "FRIENDS");
  EXPECT_EQ(Default(), "FRIENDS");
  Menu("NEW RECORD");
  Type(kName, "ANN");
  Type(kSurname, "SMITH");
  Click(DoneButton());  // DONE
  const std::string friends = dir.Read("FRIENDS.VLM");
  EXPECT_EQ(Surnames(friends), (Names{"SMITH", "SYSTEMS"}));
  Named("SAVE AS", SaveAsOkButton(), "COPY");
  EXPECT_EQ(Default(), "FRIENDS");
  Named("RENAME", RenameDeleteOkButton(), "Pals");
  EXPECT_EQ(dir.Read("Pals.VLM"), friends);
  EXPECT_EQ(Default(), "PALS");
  Menu("OPEN");
  Pick("FRIENDS.VLM");
  dialogs.Queue(MsgResult::Yes);
  Click(OpenOkButton());
  EXPECT_EQ(Working(), "FRIENDS");
  EXPECT_EQ(Default(), "FRIENDS");
  Menu("DELETE");
  Pick("Pals.VLM");
  dialogs.Queue(MsgResult::Yes);
  Click(RenameDeleteOkButton());
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
