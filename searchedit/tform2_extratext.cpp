// The search/edit window's extra text and PRINT: the read-only viewer over
// the result grid, the editor that replaces the record group in edit mode,
// and the printed list of the grid's rows.
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextCursor>
#include <QTextEdit>

#include "platform/codepage.h"
#include "platform/guard.h"
#include "platform/ioerror.h"
#include "platform/messagedialog.h"
#include "platform/printing.h"
#include "platform/richtext.h"
#include "platform/widgets.h"
#include "searchedit/accesskeys.h"
#include "searchedit/tform2.h"
#include "store/extratext.h"

namespace velmora {
namespace {

constexpr char kPlaceholder[] = "Put extra text here";
constexpr char kSaveQuestion[] = "This action will save text changes and exit text-edit, OK?";
constexpr char kCancelQuestion[] = "Unsaved changes will be lost, OK?";
// Points the user to the two buttons that create the text; the blanks are
// part of the message, on purpose.
constexpr char kNoTextEnd[] = " \"EDIT\" / \"ADD EXTRA TEXT\"  ";
static_assert(sizeof kNoTextEnd - 1 == 28);

// The printed list, in dots from the top-left corner of the printable area.
struct PrintColumn {
  int x;
  const char* header;
  const char* rule;
};
constexpr PrintColumn kPrintColumns[ResultModel::kColumns] = {
    {100, "NAME", "---------"},
    {550, "SURNAME", "----------------"},
    {1000, "PHONE1", "-------------"},
    {1400, "PHONE2", "-------------"},
    {1800, "COMMENTS", "-------------------"},
};
constexpr int kHeaderY = 100;
constexpr int kRuleY = 140;
constexpr int kRowStep = 50;
// No paper the program meets is longer than 17 inches. Rows below that would
// be drawn off the page anyway, so a list of a million entries does not send
// a million invisible texts to the printer.
constexpr int kPageEndY = 17 * kPrintDpi;

// The editor's box. Ctrl+B, Ctrl+I and Ctrl+U switch bold, italic and
// underline of the selection, or of what is typed next; those three are all
// a note keeps.
class NoteEdit final : public QTextEdit {
 public:
  using QTextEdit::QTextEdit;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    QTextCharFormat f;
    const QTextCharFormat now = currentCharFormat();
    if (e->matches(QKeySequence::Bold))
      f.setFontWeight(now.fontWeight() > QFont::Normal ? QFont::Normal : QFont::Bold);
    else if (e->matches(QKeySequence::Italic))
      f.setFontItalic(!now.fontItalic());
    else if (e->matches(QKeySequence::Underline))
      f.setFontUnderline(!now.fontUnderline());
    else
      return QTextEdit::keyPressEvent(e);
    mergeCurrentCharFormat(f);
    e->accept();
  }
};

}  // namespace

void TForm2::NoteBoxAt(QTextEdit* box, const char* name, Place at) {
  box->setObjectName(QString::fromLatin1(name));
  box->setAccessibleName(QStringLiteral("Extra text"));
  SetPlace(box, at);
  box->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Pasted text keeps only what a note can hold, so the box never shows
  // formatting that saving would drop.
  box->setAcceptRichText(false);
  box->setTabChangesFocus(true);
}

void TForm2::BuildExtraTextControls() {
  RichEdit1 = new QTextEdit(this);
  NoteBoxAt(RichEdit1, "RichEdit1", kRichEdit1);
  RichEdit1->setReadOnly(true);
  // A caret the arrows move, which a screen reader follows line by line.
  RichEdit1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  RichEdit1->hide();
  Button2 = PlaceButton(this, "Button2", QStringLiteral("CLOSE TEXT"), kButton2);
  SetAccessKey(Button2, QStringLiteral("CLOSE TEXT"), u'C');
  Button2->hide();

  // Its title is "GroupBox2", the control's name, on purpose: that is what
  // shows over the editor.
  GroupBox2 = new QGroupBox(QStringLiteral("GroupBox2"), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  SetPlace(GroupBox2, kGroupBox2);
  // The title sits in the frame's top line, as in the record group, so the
  // box laid out 16 pixels down stays inside the frame.
  GroupBox2->setStyleSheet(QStringLiteral(
      "#GroupBox2 { border: 1px solid gray; border-radius: 2px; margin-top: 6px; }"
      "#GroupBox2::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }"));
  GroupBox2->hide();
  RichEdit2 = new NoteEdit(GroupBox2);
  NoteBoxAt(RichEdit2, "RichEdit2", kRichEdit2);
  // The captions' own "&" shows; the keys differ from the record group's.
  Button6 = PlaceButton(GroupBox2, "Button6", QStringLiteral("SAVE & EXIT"), kButton6);
  Button7 = PlaceButton(GroupBox2, "Button7", QStringLiteral("CANCEL & EXIT"), kButton7);
  SetAccessKey(Button6, QStringLiteral("SAVE & EXIT"), u'S');
  SetAccessKey(Button7, QStringLiteral("CANCEL & EXIT"), u'A');
  setTabOrder(RichEdit2, Button6);
  setTabOrder(Button6, Button7);

  connect(Button2, &QPushButton::clicked, this, GuardedSlot([this] { Button2Click(); }));
  connect(Button6, &QPushButton::clicked, this, GuardedSlot([this] { Button6Click(); }));
  connect(Button7, &QPushButton::clicked, this, GuardedSlot([this] { Button7Click(); }));
}

void TForm2::HideExtraTextControls() {
  GroupBox2->hide();
  Button2->hide();
  RichEdit1->hide();
}

void TForm2::LoadNoteInto(QTextEdit* box, const std::string& fileName) {
  const std::string bytes = LoadExtraText(session_, fileName);
  if (LoadNote(QByteArray(bytes.data(), qsizetype(bytes.size())), *box->document()) ==
      NoteLoad::kFailed)
    throw AppError("Failed to Load Stream");
}

// A name with a "?" names no note (see IsSafeTextName); the user is told
// why rather than shown a note that could be another entry's.
namespace {
bool RefusedForReplacedCharacter(const std::string& fileName) {
  if (!HoldsReplacedCharacter(fileName)) return false;
  MessageDlg(QStringLiteral("No extra text for ") + FromCodePage(fileName) +
                 QStringLiteral(": a \"?\" in its name may stand for a character code page ") +
                 QString::number(TextCodePage().number()) +
                 QStringLiteral(" cannot store, so its file could be another entry's."),
             MsgKind::Information, MsgButtons::OK);
  return true;
}
}  // namespace

// ---- The viewer ----

void TForm2::StringGrid1DblClick() { OpenTextViewer(); }

void TForm2::OpenTextViewer() {
  const int row = CurrentRow();
  if (row == 0) return;
  const int at = ModelRow(row);
  const std::string name = ViewerTextName(std::string(model_.Cell(at, ContactRecord::kName)),
                                          std::string(model_.Cell(at, ContactRecord::kSurname)));
  // The message row has neither, and says enough by itself.
  if (name.empty() || RefusedForReplacedCharacter(name)) return;
  if (!ExtraTextExists(session_, name)) {
    MessageDlg(QStringLiteral("No ekstra info found for ") + FromCodePage(name) +
                   QStringLiteral(" . Create extra info in") + QString::fromLatin1(kNoTextEnd),
               MsgKind::Information, MsgButtons::OK);
    return;
  }
  // Loaded before the view changes: a file that cannot be read leaves the
  // user in the list, not in an empty window.
  RichEdit1->clear();
  LoadNoteInto(RichEdit1, name);
  RichEdit1->moveCursor(QTextCursor::Start);
  RichEdit1->show();
  Button2->show();
  // Focused before the grid hides, so that the focus never rests on a
  // hidden control and the text is what a screen reader reads.
  RichEdit1->setFocus();
  HideResultControls();
  SetWidth(kNarrowWidth);
}

void TForm2::Button2Click() { CloseTextViewer(); }

void TForm2::CloseTextViewer() {
  SetWidth(kCloseTextWidth);
  ShowResultControls();
  RichEdit1->hide();
  Button2->hide();
}

// ---- The editor ----

std::string TForm2::EditorFileName() const {
  return EditorTextName(ToCodePage(Edit1->text()), ToCodePage(Edit2->text()));
}

void TForm2::Button5Click() { OpenTextEditor(); }

void TForm2::OpenTextEditor() {
  // Loaded before the editor opens, as in the viewer: a note that cannot be
  // read leaves the user in edit mode, so SAVE & EXIT can never replace a
  // text the user did not see.
  const std::string name = EditorFileName();
  if (RefusedForReplacedCharacter(name)) return;
  RichEdit2->clear();
  RichEdit2->setCurrentCharFormat(QTextCharFormat());
  if (ExtraTextExists(session_, name))
    LoadNoteInto(RichEdit2, name);
  else
    RichEdit2->insertPlainText(QString::fromLatin1(kPlaceholder));
  RichEdit2->moveCursor(QTextCursor::Start);
  GroupBox2->show();
  RichEdit2->setFocus();
  GroupBox1->hide();
}

void TForm2::Button6Click() { SaveNoteAndExit(); }

void TForm2::SaveNoteAndExit() {
  if (MessageDlg(QString::fromLatin1(kSaveQuestion), MsgKind::Information, MsgButtons::YesNo) !=
      MsgResult::Yes)
    return;
  GroupBox1->show();
  Edit3->setFocus();
  GroupBox2->hide();
  const QByteArray rtf = WriteRtf(*RichEdit2->document());
  SaveExtraText(session_, EditorFileName(), rtf.toStdString());
}

void TForm2::Button7Click() { DiscardNoteAndExit(); }

void TForm2::DiscardNoteAndExit() {
  if (MessageDlg(QString::fromLatin1(kCancelQuestion), MsgKind::Information, MsgButtons::YesNo) !=
      MsgResult::Yes)
    return;
  GroupBox1->show();
  Edit3->setFocus();
  GroupBox2->hide();
}

// ---- PRINT ----

void TForm2::Button1Click() { PrintResults(); }

void TForm2::PrintResults() {
  std::unique_ptr<PrintJob> job = BeginPrintJob();
  for (const PrintColumn& c : kPrintColumns) {
    job->TextOut(c.x, kHeaderY, QString::fromLatin1(c.header));
    job->TextOut(c.x, kRuleY, QString::fromLatin1(c.rule));
  }
  const int rows = model_.rowCount();
  for (int r = 1; r <= rows; ++r) {
    const int y = kRuleY + kRowStep * r;
    if (y > kPageEndY) break;
    for (int f = 0; f < ResultModel::kColumns; ++f)
      job->TextOut(kPrintColumns[f].x, y,
                   FromCodePage(model_.Cell(ModelRow(r), static_cast<ContactRecord::Field>(f))));
  }
  job->End();
}

}  // namespace velmora
