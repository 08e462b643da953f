// Paths where one action could destroy a data file, the configuration or a
// note the user never saw, each tried through the windows.
#include <QListWidget>
#include <QMessageBox>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

#include "store/datafile.h"
#include "store/sort.h"
#include "store/startup.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Rec;

class DataLossTest : public testing::WindowsTest {
 protected:
  std::string LastMessage() {
    return dialogs.shown.empty() ? "" : dialogs.shown.back().text.toStdString();
  }
};

// A window left open while a sync or another velmora changes or deletes
// the entry: DONE and delete must neither add it again nor touch the file.
TEST_F(DataLossTest, AnEntryChangedMeanwhileIsNeitherDoubledNorDropped) {
  for (bool done : {true, false}) {
    for (bool deleted : {false, true}) {
      SCOPED_TRACE(std::string(done ? "DONE" : "delete") + (deleted ? " of a deleted entry" : ""));
      Start({Rec("Ann", "Jones", "1"), Rec("Bob", "Jones", "2")});
      Search("JO");
      Session other{env};
      RunStartUp(other, dir.path());
      other.RemovedRecord = Rec("Bob", "Jones", "2");
      other.NewRecord = Rec("Bob", "Jones", "3");
      if (deleted)
        RewriteWithout(other, false);
      else
        ReplaceRecord(other);
      const std::string meanwhile = Working();
      dialogs.shown.clear();
      if (done) {
        SelectRow(2);
        Click(EditButton());
        Type(kComments, "from phone");
        Click(DoneButton());
      } else {
        dialogs.Queue(MsgResult::OK);
        RightClickRow(2);
      }
      EXPECT_EQ(LastMessage(),
                "This entry was changed meanwhile, by another window or a sync. The search is "
                "made again.");
      EXPECT_EQ(dialogs.shown.back().title, "Warning");
      EXPECT_EQ(Working(), meanwhile);
      EXPECT_EQ(Column(2), (deleted ? std::vector<QString>{"1"} : std::vector<QString>{"1", "3"}));
    }
  }
}

TEST_F(DataLossTest, NoteNamesNeverReachTheProgramsOwnFiles) {
  // Entries whose NAME + SURNAME is a program file, and one that is not.
  Start({Rec("FRIENDS", ".VLM"), Rec("velmora", ".ini"), Rec("VELM", "ORA"), Rec("TOL", "KA"),
         Rec("HLP#0", "I"), Rec("OTHER", ".vlm"), Rec("temp", ".tmp"), Rec("J.", "SMITH")});
  for (const char* own : {"velmora", "tolka", "hlp#0i", "OTHER.VLM"}) dir.Write(own, own);
  dir.Write("J.SMITH", "kept note");
  Search("");
  const int unsafe = 7;
  // Rows come sorted by surname then name; find each by its name.
  auto rowOf = [&](const char* name) {
    for (int r = 1; r < form2->GridRowCount(); ++r)
      if (Cell(r, 0) == name) return r;
    return 0;
  };
  for (const char* name : {"FRIENDS", "velmora", "VELM", "TOL", "HLP#0", "OTHER", "temp"}) {
    const auto before = dir.Names();
    const std::string friends = Working(), ini = dir.Read("velmora.ini");
    dialogs.shown.clear();
    DoubleClickRow(rowOf(name));
    EXPECT_EQ(LastMessage().rfind("No ekstra info found for ", 0), 0u) << name;

    OpenEditor(rowOf(name));
    EXPECT_EQ(Editor()->toPlainText(), "Put extra text here") << name;
    Answer(MsgResult::Yes, SaveTextButton());
    EXPECT_EQ(LastMessage().rfind("Cannot create file " + dir.path(), 0), 0u) << name;
    Click(CancelEditButton());  // CANCEL of edit mode
    EXPECT_EQ(dir.Names(), before) << name;
    EXPECT_EQ(Working(), friends) << name;
    EXPECT_EQ(dir.Read("velmora.ini"), ini) << name;
  }
  // Deleting them all (they sort before J. SMITH): each cleanup leaves the
  // program's files alone.
  for (int i = 0; i < unsafe; ++i) {
    dialogs.Queue(MsgResult::OK);
    RightClickRow(1);
  }
  EXPECT_EQ(form2->GridRowCount(), 2);  // header and J. SMITH
  EXPECT_EQ(Working().size(), ContactRecord::kSize);
  for (const char* own : {"velmora", "tolka", "hlp#0i", "OTHER.VLM"}) EXPECT_EQ(dir.Read(own), own);

  DoubleClickRow(1);  // a dotted name is still a note
  EXPECT_EQ(Viewer()->toPlainText(), "kept note");
}

TEST_F(DataLossTest, ANoteThatCannotBeReadIsNeitherShownNorReplaced) {
  Start({Rec("JOHN", "SMITH")});
  const struct {
    const char* what;
    std::function<void()> arrange;
    std::string message;
  } cases[] = {
      {"unreadable", [&] { env.FailEvery("open", EACCES); },
       "Cannot open file " + (dir / "JOHNSMITH")},
      // Sparse: a note of 5 GiB that must be refused by its size alone.
      {"huge",
       [&] {
         const int fd = ::open((dir / "JOHNSMITH").c_str(), O_WRONLY);
         ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0);
         ::close(fd);
       },
       "Failed to Load Stream"},
  };
  for (const auto& c : cases) {
    dir.Write("JOHNSMITH", "the user's note");
    Search("SM");
    c.arrange();
    dialogs.shown.clear();
    DoubleClickRow(1);
    OpenEditor(1);
    env.Heal();
    ASSERT_EQ(dialogs.shown.size(), 2u) << c.what;
    EXPECT_EQ(dialogs.shown[0].text.toStdString(), c.message + ".") << c.what;
    EXPECT_EQ(dialogs.shown[1].text.toStdString(), c.message + ".") << c.what;
    EXPECT_TRUE(InEditMode()) << c.what;  // the editor did not open over it
    Click(CancelEditButton());
    ::truncate((dir / "JOHNSMITH").c_str(), 15);  // back from the sparse 5 GiB
    EXPECT_EQ(dir.Read("JOHNSMITH"), "the user's note") << c.what;
    form2->close();
  }
}

TEST_F(DataLossTest, ReadOnlyFilesAreNotReplaced) {
  dir.Write("JOHNSMITH", "note");
  dir.Write("OTHER.VLM", "");
  Start({Rec("JOHN", "SMITH", "1"), Rec("ANN", "SMALL", "2")});
  const struct {
    const char* what;
    std::function<void()> act;
    std::string message;
  } cases[] = {
      {"change",
       [&] {
         Search("SM");
         SelectRow(1);
         Click(EditButton());
         Type(kPhone1, "999");
         Click(DoneButton());
       },
       "File access denied."},
      {"delete",
       [&] {
         Search("SM");
         dialogs.Queue(MsgResult::OK);
         RightClickRow(1);
       },
       "File access denied."},
      {"note",
       [&] {
         Search("SM");
         OpenEditor(2);
         Answer(MsgResult::Yes, SaveTextButton());
       },
       "File access denied."},
      {"default file",
       [&] {
         Menu("OPEN");
         auto* list = FileList();
         list->setCurrentItem(list->findItems("OTHER.VLM", Qt::MatchExactly).value(0));
         dialogs.Queue(MsgResult::Yes);
         Click(OpenOkButton());
       },
       "Unable to write to " + (dir / "velmora.ini") + "."},
  };
  for (const auto& c : cases) {
    const auto before = dir.Names();
    const std::string friends = Working(), ini = dir.Read("velmora.ini");
    dialogs.shown.clear();
    env.FailEvery("writable", EACCES);
    c.act();
    env.Heal();
    EXPECT_EQ(LastMessage(), c.message) << c.what;
    EXPECT_EQ(dir.Names(), before) << c.what;
    EXPECT_EQ(Working(), friends) << c.what;
    EXPECT_EQ(dir.Read("JOHNSMITH"), "note") << c.what;
    EXPECT_EQ(dir.Read("velmora.ini"), ini) << c.what;
    form2->close();
  }
}

TEST_F(DataLossTest, EntryTextsAreNeverReadAsMarkup) {
  Start({Rec("<b>Al", "<img src=x>")});
  Search("<");
  SelectRow(1);
  Click(EditButton());
  auto* label = SurnameLabel();
  EXPECT_EQ(label->text(), "Edit details for <b>Al <img src=x>.");
  EXPECT_EQ(label->textFormat(), Qt::PlainText);
  Click(CancelEditButton());
  DoubleClickRow(1);
  ASSERT_FALSE(dialogs.shown.empty());
  EXPECT_EQ(BuildMessageBox(dialogs.shown.back(), nullptr)->textFormat(), Qt::PlainText);
}

TEST_F(DataLossTest, TypedLettersMoveNeitherGrid) {
  Start({Rec("ANN", "ADAMS"), Rec("BOB", "SMITH"), Rec("CAROL", "SMYTHE")});
  Menu("SEARCH/EDIT");
  PickLetter('C');
  auto* letters = Letters();
  const QModelIndex picked = letters->currentIndex();
  QTest::keyClicks(letters, "P");  // the letter below C
  EXPECT_EQ(letters->currentIndex(), picked);
  EXPECT_EQ(SearchField()->text(), "C");
  QTest::keyClick(letters, Qt::Key_Right);  // moves only
  QTest::keyClick(letters, Qt::Key_Return);
  EXPECT_EQ(SearchField()->text(), "CD");

  Click(CancelSearchButton());
  Search("");
  SelectRow(1);
  QTest::keyClicks(form2->grid(), "C");  // the NAME of row 3
  EXPECT_EQ(form2->grid()->currentIndex().row(), 0);
}

TEST_F(DataLossTest, TheFileListShowsOnlyNamesThatSurviveTheCodePage) {
  Start({Rec("ANN", "SMITH")});
  dir.Write("Bad\xff.VLM", "");       // not UTF-8
  dir.Write("\xce\xa9mega.VLM", "");  // Greek capital omega
  dir.Write("Caf\xc3\xa9.VLM", "");   // e acute: in the code page
  Menu("OPEN");
  auto* list = FileList();
  QStringList shown;
  for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
  EXPECT_EQ(shown, (QStringList{"brink.vlm", QString::fromUtf8("Caf\xc3\xa9.VLM"), "FRIENDS.VLM"}));
}

TEST_F(DataLossTest, AFailedSearchIsReportedOverTheShownWindow) {
  Start({Rec("ANN", "SMITH")});
  dir.Write("FRIENDS.VLM", Working() + "tail");  // not a whole number of records
  for (const char* way : {"START SEARCH", "NEW RECORD"}) {
    if (way == std::string("START SEARCH"))
      Search("");
    else
      Menu("NEW RECORD");
    EXPECT_TRUE(dialogs.shown.empty()) << way;  // not before the window is up
    EXPECT_TRUE(form2->isVisible()) << way;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shown.empty(); })) << way;
    EXPECT_EQ(dialogs.shown.back().text, "Read beyond end of file.") << way;
    EXPECT_TRUE(form2->isVisible()) << way;
    dialogs.shown.clear();
    form2->close();
  }
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::string out(n, '\0');
  for (char& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = char(seed >> 16);
  }
  return out;
}

TEST_F(DataLossTest, DamagedDataFilesGiveAClearMessageAndKeepTheirRecords) {
  const std::string valid = testing::FileOf({Rec("ANN", "SMITH"), Rec("BOB", "STONE")});
  const struct {
    const char* what;
    std::string bytes;
    const char* message;  // of the search; empty when none
  } cases[] = {
      {"random records", RandomBytes(135 * 40, 7), ""},
      {"random bytes", RandomBytes(1000, 9), "Read beyond end of file."},
      {"cut in a record", valid.substr(0, 200), "Read beyond end of file."},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    Start({});
    dir.Write("FRIENDS.VLM", c.bytes);
    dialogs.shown.clear();
    Search("");
    QTest::qWait(10);
    EXPECT_EQ(dialogs.shown.empty() ? "" : dialogs.shown.back().text.toStdString(), c.message)
        << c.what;
    EXPECT_EQ(dir.Read("FRIENDS.VLM"), c.bytes) << c.what;  // reading changes nothing
    form2->close();

    // An entry added after it: every whole record is still there.
    Menu("NEW RECORD");
    QTest::qWait(10);
    Type(kName, "ZED");
    Type(kSurname, "ZULU");
    Click(DoneButton());
    QTest::qWait(10);
    const size_t whole = c.bytes.size() / 135 * 135;
    auto sorted = testing::RecordsOf(c.bytes.substr(0, whole));
    sorted.push_back(Rec("ZED", "ZULU"));
    auto after = testing::RecordsOf(Working());
    EXPECT_EQ(after.size(), sorted.size()) << c.what;
    auto bytesOf = [](std::vector<ContactRecord> v) {
      std::vector<std::string> out;
      for (const auto& r : v) out.push_back(testing::Bytes(r));
      std::sort(out.begin(), out.end());
      return out;
    };
    EXPECT_EQ(bytesOf(after), bytesOf(sorted)) << c.what;
    form2.reset();
    form1.reset();
  }
}

TEST_F(DataLossTest, ABrokenConfigurationFileFallsBackToTheSampleFileUntouched) {
  // Only a file too large to be a configuration is worth a warning.
  const std::pair<std::string, bool> cases[] = {
      {RandomBytes(4096, 3), false},
      {"[filenames]\r\ndefaultfile=" + std::string(1 << 20, 'F') + "\r\nextention=vlm\r\n", true},
      {"defaultfile=friends\r\nextention=vlm\r\n", false},  // no section
  };
  for (const auto& [ini, warned] : cases) {
    dir.Write("FRIENDS.VLM", testing::FileOf({Rec("ANN", "SMITH")}));
    dir.Write("velmora.ini", ini);
    dialogs.shown.clear();
    Session fresh{env};
    TForm1 form(fresh, dir.path());
    EXPECT_EQ(form.windowTitle(), "BRINK");
    ASSERT_EQ(dialogs.shown.size(), warned ? 1u : 0u);
    if (warned) {
      EXPECT_EQ(dialogs.shown[0].title, "Warning");
      EXPECT_EQ(dialogs.shown[0].text.toStdString(), TooLargeConfigText(dir / "velmora.ini"));
    }
    EXPECT_EQ(dir.Read("velmora.ini"), ini);
  }
}

TEST_F(DataLossTest, ControlCharactersInEntriesAreKeptAndShownHarmlessly) {
  Start({Rec("A\tB", "S\x01M", "1\r\n2", std::string("x\0y", 3), "\x7f\x1b[31m")});
  Search("S");
  ASSERT_EQ(form2->GridRowCount(), 2);
  EXPECT_EQ(Cell(1, 0), "A\tB");
  SelectRow(1);
  Click(EditButton());
  Type(kComments, "fine");
  Click(DoneButton());
  const auto records = testing::RecordsOf(Working());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Text(ContactRecord::kPhone1), "1\r\n2");
  EXPECT_EQ(records[0].Text(ContactRecord::kComments), "fine");
}

}  // namespace
}  // namespace velmora
