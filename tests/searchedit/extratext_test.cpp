// An entry's extra text: the viewer opened by a double-click on the grid,
// the editor opened from edit mode, and where the text is kept.
#include <QGroupBox>
#include <QHeaderView>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <sys/stat.h>

#include "platform/richtext.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Rec;

const QString kNoTextEnd =
    QStringLiteral(" . Create extra info in \"EDIT\" / \"ADD EXTRA TEXT\"  ");

class ExtraTextTest : public testing::WindowsTest {
 protected:
  void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(Editor(), key, mods);
  }
  // The text of a note file as the boxes read it.
  QString NoteText(const std::string& file) {
    const std::string bytes = dir.Read(file);
    QTextDocument doc;
    LoadNote(QByteArray(bytes.data(), qsizetype(bytes.size())), doc);
    return doc.toPlainText();
  }
};

// What the fragments holding `word` look like: "b", "i", "u" for each of
// bold, italic, underline they carry.
QString StyleOf(const QTextDocument& doc, const QString& word) {
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment f = it.fragment();
      if (!f.text().contains(word)) continue;
      const QTextCharFormat c = f.charFormat();
      return QString(c.fontWeight() > QFont::Normal ? "b" : "") + (c.fontItalic() ? "i" : "") +
             (c.fontUnderline() ? "u" : "");
    }
  return "missing";
}

TEST_F(ExtraTextTest, WrittenInTheEditorShownByTheViewerWithItsStyles) {
  Start({Rec("JOHN", "SMITH", "1"), Rec("ANN", "SMALL")});
  Search("SM");
  OpenEditor(1);
  EXPECT_TRUE(InEditor());
  EXPECT_EQ(form2->width(), TForm2::kNarrowWidth);
  EXPECT_EQ(Editor()->toPlainText(), "Put extra text here");
  EXPECT_FALSE(Editor()->isReadOnly());

  Key(Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(Editor(), "Dear ");
  Key(Qt::Key_B, Qt::ControlModifier);
  QTest::keyClicks(Editor(), "bold");
  Key(Qt::Key_B, Qt::ControlModifier);
  Key(Qt::Key_I, Qt::ControlModifier);
  Key(Qt::Key_U, Qt::ControlModifier);
  QTest::keyClicks(Editor(), " slanted");
  Key(Qt::Key_Return);
  Key(Qt::Key_U, Qt::ControlModifier);
  Key(Qt::Key_I, Qt::ControlModifier);
  QTest::keyClicks(Editor(), "caf");
  QTest::sendKeyEvent(QTest::Click, Editor(), Qt::Key_Eacute, QString::fromUtf8("\u00e9"), {});
  QTest::keyClicks(Editor(), " au lait");
  Answer(MsgResult::Yes, SaveTextButton());

  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "This action will save text changes and exit text-edit, OK?");
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Information);
  EXPECT_EQ(dialogs.shown[0].buttons, MsgButtons::YesNo);
  EXPECT_TRUE(InEditMode());
  EXPECT_EQ(dir.Read("JOHNSMITH").rfind("{\\rtf", 0), 0u);

  Click(DoneButton());  // DONE
  DoubleClickRow(1);
  EXPECT_EQ(dialogs.shown.size(), 1u);
  ASSERT_TRUE(Viewer()->isVisible());
  EXPECT_TRUE(Viewer()->isReadOnly());
  EXPECT_TRUE(CloseTextButton()->isVisible());
  EXPECT_FALSE(form2->grid()->isVisible());
  EXPECT_FALSE(PrintButton()->isVisible());
  EXPECT_EQ(form2->width(), TForm2::kNarrowWidth);
  const QTextDocument& shown = *Viewer()->document();
  EXPECT_EQ(shown.toPlainText(), QString::fromUtf8("Dear bold slanted\ncaf\u00e9 au lait"));
  EXPECT_EQ(StyleOf(shown, "Dear"), "");
  EXPECT_EQ(StyleOf(shown, "bold"), "b");
  EXPECT_EQ(StyleOf(shown, "slanted"), "iu");
  EXPECT_EQ(StyleOf(shown, "au lait"), "");

  Click(CloseTextButton());  // CLOSE TEXT
  EXPECT_FALSE(Viewer()->isVisible());
  EXPECT_FALSE(CloseTextButton()->isVisible());
  EXPECT_TRUE(form2->grid()->isVisible());
  EXPECT_TRUE(HintLabel()->isVisible());
  EXPECT_EQ(form2->width(), TForm2::kCloseTextWidth);

  // Closing the window from the viewer puts it back for the next search.
  DoubleClickRow(1);
  form2->close();
  EXPECT_EQ(form2->width(), TForm2::kDesignWidth);
  EXPECT_FALSE(Viewer()->isVisibleTo(form2.get()));
  EXPECT_FALSE(CloseTextButton()->isVisibleTo(form2.get()));
  EXPECT_TRUE(form1->isVisible());
}

TEST_F(ExtraTextTest, WithoutAFileTheViewerSaysSoAndOnlyForTheCurrentRow) {
  Start({Rec("JOHN", "SMITH"), Rec("ANN ", "SMALL ")});
  Search("SM");
  DoubleClickRow(1);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "No ekstra info found for JOHNSMITH" + kNoTextEnd);
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Information);
  EXPECT_EQ(dialogs.shown[0].buttons, MsgButtons::OK);
  EXPECT_TRUE(form2->grid()->isVisible());
  EXPECT_EQ(form2->width(), TForm2::kDesignWidth);

  // The header acts on the current row and never becomes current itself.
  SelectRow(2);
  QHeaderView* header = form2->grid()->horizontalHeader();
  QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, header->height() / 2));
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].text, "No ekstra info found for ANN SMALL" + kNoTextEnd);
  EXPECT_EQ(form2->CurrentRow(), 2);

  Click(BackButton());
  Search("X");  // only the message row
  DoubleClickRow(1);
  EXPECT_EQ(dialogs.shown.size(), 2u);
  EXPECT_FALSE(Viewer()->isVisible());
}

TEST_F(ExtraTextTest, OnlySaveAnsweredYesWritesAndAnEditorOpeningStartsAfresh) {
  Start({Rec("JOHN", "SMITH")});
  dir.Write("JOHNSMITH", "{\\rtf1 old text\\par}");
  Search("SM");
  OpenEditor(1);
  EXPECT_EQ(Editor()->toPlainText(), "old text");
  QTest::keyClicks(Editor(), "new ");

  Answer(MsgResult::No, SaveTextButton());
  EXPECT_TRUE(InEditor());
  Answer(MsgResult::No, CancelTextButton());
  EXPECT_TRUE(InEditor());
  EXPECT_EQ(Editor()->toPlainText(), "new old text");
  Answer(MsgResult::Yes, CancelTextButton());
  EXPECT_TRUE(InEditMode());
  ASSERT_EQ(dialogs.shown.size(), 3u);
  EXPECT_EQ(dialogs.shown[1].text, "Unsaved changes will be lost, OK?");
  EXPECT_EQ(dialogs.shown[1].buttons, MsgButtons::YesNo);
  EXPECT_EQ(dir.Read("JOHNSMITH"), "{\\rtf1 old text\\par}");

  Click(ExtraTextButton());
  EXPECT_EQ(Editor()->toPlainText(), "old text");
  Answer(MsgResult::Yes, SaveTextButton());
  // A CANCEL of the edit afterwards does not take the saved text back.
  Click(CancelEditButton());
  EXPECT_EQ(NoteText("JOHNSMITH"), "old text");
  EXPECT_NE(dir.Read("JOHNSMITH"), "{\\rtf1 old text\\par}");
}

TEST_F(ExtraTextTest, EditorKeepsABlankLeadingTheNameWhichTheViewerTrims) {
  Start({Rec(" JOHN", "SMITH")});
  Search("SM");
  OpenEditor(1);
  Answer(MsgResult::Yes, SaveTextButton());  // the placeholder, saved as it stands
  EXPECT_EQ(NoteText(" JOHNSMITH"), "Put extra text here");
  Click(DoneButton());
  DoubleClickRow(1);
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].text, "No ekstra info found for JOHNSMITH" + kNoTextEnd);
}

TEST_F(ExtraTextTest, AFileLeftByHandIsFoundWhateverItsCaseAndShownAsPlainText) {
  Start({Rec("JOHN", "SMITH")});
  dir.Write("johnsmith", "line one\r\n{not rtf}\r\n");
  Search("SM");
  DoubleClickRow(1);
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(Viewer()->toPlainText(), "line one\n{not rtf}");
  Click(CloseTextButton());
  OpenEditor(1);
  EXPECT_EQ(Editor()->toPlainText(), "line one\n{not rtf}");
}

TEST_F(ExtraTextTest, NamesThatCouldLeaveTheProgramDirectoryNameNoFile) {
  Start({Rec("SUB/", "X"), Rec(".", "."), Rec("Z", "Z")});
  ASSERT_EQ(::mkdir((dir / "SUB").c_str(), 0755), 0);
  dir.Write("SUB/X", "outside");
  const auto before = dir.Names();
  Search("");

  DoubleClickRow(1);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "No ekstra info found for SUB/X" + kNoTextEnd);

  OpenEditor(1);
  EXPECT_EQ(Editor()->toPlainText(), "Put extra text here");
  Answer(MsgResult::Yes, SaveTextButton());
  ASSERT_EQ(dialogs.shown.size(), 3u);
  EXPECT_EQ(dialogs.shown[2].text,
            QString::fromStdString("Cannot create file " + dir.path() + "SUB/X."));
  EXPECT_EQ(dialogs.shown[2].kind, MsgKind::Error);
  EXPECT_TRUE(InEditMode());
  Click(CancelEditButton());

  OpenEditor(2);
  Answer(MsgResult::Yes, SaveTextButton());
  ASSERT_EQ(dialogs.shown.size(), 5u);
  // The box adds no full stop to a text that ends in one.
  EXPECT_EQ(dialogs.shown[4].text.toStdString(), "Cannot create file " + dir.path() + "..");
  Click(CancelEditButton());

  dialogs.Queue(MsgResult::OK);
  RightClickRow(1);  // delete SUB/ X: its cleanup must not reach SUB/X
  EXPECT_EQ(form2->GridRowCount(), 3);
  EXPECT_EQ(dir.Read("SUB/X"), "outside");
  EXPECT_EQ(dir.Names(), before);
}

}  // namespace
}  // namespace velmora
