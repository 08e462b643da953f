// The FILE commands of the main window: NEW, OPEN, SAVE AS, RENAME and
// DELETE, and their two panels, the name entry and the file list.
//
// Every command does its file step first. Only when the step has succeeded
// do the working file, the caption and the default file change, so a failed
// copy or rename (a full disk, a refused rename) is reported by the guard and
// leaves the program on the file it had.

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "mainwindow/nameentry.h"
#include "mainwindow/tform1.h"
#include "platform/codepage.h"
#include "platform/guard.h"
#include "platform/messagedialog.h"
#include "platform/text.h"
#include "platform/widgets.h"
#include "searchedit/accesskeys.h"
#include "searchedit/tform2.h"
#include "store/filecommands.h"
#include "store/startup.h"
#include "sync/account.h"

namespace velmora {
namespace {

const QString kOverwrite = QStringLiteral("FILE EXISTS - OVERWRITE?");
const QString kMakeDefault = QStringLiteral("Make this the default file ?");

bool AskYes(const QString& text, MsgKind kind) {
  return MessageDlg(text, kind, MsgButtons::YesNo) == MsgResult::Yes;
}

}  // namespace

void TForm1::BuildFilePanels() {
  QWidget* area = centralWidget();
  // Both panels share the place of the search-entry panel; the four OK
  // buttons and CANCEL sit to the right of the entry or the list.
  Label4 = PlaceLabel(area, "Label4", QString(), kLabel4);
  Label2 = PlaceLabel(area, "Label2", QStringLiteral("ENTER FILENAME"), kLabel2);
  MaskEdit2 = new NameEntry(area);
  MaskEdit2->setObjectName(QStringLiteral("MaskEdit2"));
  const int entryWidth =
      MaskEdit2->fontMetrics().horizontalAdvance(QString(NameEntry::kPositions, u'W')) +
      kMaskEdit2Frame;
  MaskEdit2->setGeometry(kMaskEdit2.x, kMaskEdit2.y, entryWidth, kMaskEdit2.h);
  Label2->setBuddy(MaskEdit2);
  FileListBox1 = new QListWidget(area);
  FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
  FileListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  SetPlace(FileListBox1, kFileListBox1);

  // Right of the entry, however wide the font makes it.
  const int buttonX = std::max(kButton4.x, EndX(MaskEdit2) + kFileButtonGap);
  auto right = [buttonX](Place p) { return Place{buttonX, p.y, p.w, p.h}; };
  Button4 = PlaceButton(area, "Button4", QStringLiteral("OK"), right(kButton4));
  Button9 = PlaceButton(area, "Button9", QStringLiteral("OK"), right(kButton9));
  Button11 = PlaceButton(area, "Button11", QStringLiteral("OK"), right(kButton11));
  Button1 = PlaceButton(area, "Button1", QStringLiteral("OK"), right(kButton1));
  Button5 = PlaceButton(area, "Button5", QStringLiteral("CANCEL"), right(kButton5));
  SetAccessKey(Label2, QStringLiteral("ENTER FILENAME"), u'E');
  for (QPushButton* ok : {Button4, Button9, Button11, Button1})
    SetAccessKey(ok, QStringLiteral("OK"), u'O');
  SetAccessKey(Button5, QStringLiteral("CANCEL"), u'C');

  filePanels_ = {Label4,  Label2,   MaskEdit2, FileListBox1, Button4,
                 Button9, Button11, Button1,   Button5};
  HideFilePanels();

  connect(NEW1, &QAction::triggered, this, GuardedSlot([this] { NEW1Click(); }));
  connect(OPEN1, &QAction::triggered, this, GuardedSlot([this] { OPEN1Click(); }));
  connect(SAVEAS1, &QAction::triggered, this, GuardedSlot([this] { SAVEAS1Click(); }));
  connect(RENAME1, &QAction::triggered, this, GuardedSlot([this] { RENAME1Click(); }));
  connect(DELETE1, &QAction::triggered, this, GuardedSlot([this] { DELETE1Click(); }));
  connect(Button4, &QPushButton::clicked, this, GuardedSlot([this] { Button4Click(); }));
  connect(Button9, &QPushButton::clicked, this, GuardedSlot([this] { Button9Click(); }));
  connect(Button11, &QPushButton::clicked, this, GuardedSlot([this] { Button11Click(); }));
  connect(Button1, &QPushButton::clicked, this, GuardedSlot([this] { Button1Click(); }));
  connect(Button5, &QPushButton::clicked, this, GuardedSlot([this] { Button5Click(); }));
}

void TForm1::SetFilePanel(FilePanel panel) {
  struct Command {
    const char* title;
    QPushButton* ok;
    bool nameEntry;  // else the file list
  };
  Command command{"", nullptr, false};
  switch (panel) {
    case FilePanel::kNone: break;
    case FilePanel::kNew: command = {"File/New", Button4, true}; break;
    case FilePanel::kOpen: command = {"File/Open", Button9, false}; break;
    case FilePanel::kSaveAs: command = {"File/Save As", Button11, true}; break;
    case FilePanel::kRename: command = {"File/Rename", Button1, true}; break;
    case FilePanel::kDelete: command = {"File/Delete", Button1, false}; break;
  }
  filePanel_ = panel;
  const QString title = QString::fromLatin1(command.title);
  if (panel != FilePanel::kNone) {
    SetCaption(Label4, title, kLabel4.w);
    if (form2_) form2_->hide();
    HideSearchPanel();
  }
  if (panel == FilePanel::kNone) KeepFocusOffHidden(filePanels_);
  for (QWidget* w : filePanels_) w->hide();
  if (panel == FilePanel::kNone) return;
  Label4->show();
  Button5->show();
  command.ok->show();
  if (command.nameEntry) {
    // The entry keeps the text of its last use.
    Label2->show();
    MaskEdit2->show();
    MaskEdit2->setFocus();
  } else {
    FileListBox1->setAccessibleName(title);
    RefreshFileList();
    FileListBox1->show();
    FileListBox1->setFocus();
  }
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  // In a file panel Enter is its OK and Escape its CANCEL; the name entry and
  // the list leave both keys to the window. Escape is the search-entry
  // panel's CANCEL as well.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
      Button7->isVisible())
    return Button7->click();
  if (filePanel_ != FilePanel::kNone && event->modifiers() == Qt::NoModifier) {
    QPushButton* button = nullptr;
    if (event->key() == Qt::Key_Escape) button = Button5;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
      for (QPushButton* ok : {Button4, Button9, Button11, Button1})
        if (ok->isVisible()) button = ok;
    if (button) return button->click();
  }
  QMainWindow::keyPressEvent(event);
}

void TForm1::RefreshFileList() {
  FileListBox1->clear();
  for (const std::string& entry : ListDataFiles(session_))
    FileListBox1->addItem(FromCodePage(entry));
  FileListBox1->setCurrentRow(-1);
}

std::string TForm1::SelectedEntry() const {
  const QList<QListWidgetItem*> picked = FileListBox1->selectedItems();
  return picked.isEmpty() ? std::string() : ToCodePage(picked.front()->text());
}

void TForm1::SetWorkingName(const std::string& name) {
  setWindowTitle(FromCodePage(name));
  session_.WorkingName = name;
}

void TForm1::NEW1Click() { SetFilePanel(FilePanel::kNew); }

void TForm1::OPEN1Click() { SetFilePanel(FilePanel::kOpen); }

void TForm1::SAVEAS1Click() { SetFilePanel(FilePanel::kSaveAs); }

void TForm1::RENAME1Click() { SetFilePanel(FilePanel::kRename); }

void TForm1::DELETE1Click() { SetFilePanel(FilePanel::kDelete); }

void TForm1::Button5Click() { HideFilePanels(); }

void TForm1::RunOnEnteredName(void (TForm1::*step)(const std::string&)) {
  ThenAlways(
      [&] {
        const std::string name = MaskEdit2->EnteredName();
        if (name.empty()) return;
        if (!DataFileExists(session_, name) || AskYes(kOverwrite, MsgKind::Warning))
          (this->*step)(name);
      },
      [&] { HideFilePanels(); });
}

void TForm1::Button4Click() { RunOnEnteredName(&TForm1::MakeNewFile); }

void TForm1::Button11Click() { RunOnEnteredName(&TForm1::SaveWorkingFileAs); }

void TForm1::Button9Click() { OpenSelectedFile(); }

void TForm1::OpenSelectedFile() {
  ThenAlways(
      [&] {
        const std::string entry = SelectedEntry();
        if (Trim(entry).empty()) return;
        // The caption and the working file change together, before the
        // question, so that a default file that cannot be written leaves
        // them agreeing.
        SetWorkingName(entry.substr(0, entry.find('.')));
        if (AskYes(kMakeDefault, MsgKind::Information))
          SetDefaultFile(session_, session_.WorkingName);
      },
      [&] { HideFilePanels(); });
}

void TForm1::Button1Click() {
  ThenAlways(
      [&] {
        switch (filePanel_) {
          case FilePanel::kDelete: DeleteSelectedFile(); break;
          case FilePanel::kRename: RunOnEnteredName(&TForm1::RenameWorkingFile); break;
          default: break;  // Button1 shows only on those two panels
        }
      },
      // A deleted file leaves the list; nothing is selected afterwards.
      [&] { RefreshFileList(); });
}

void TForm1::DeleteSelectedFile() {
  // The panel stays open, so that more files can be deleted.
  const std::string entry = SelectedEntry();
  if (SameText(session_.WorkingName + "." + session_.WorkingExt, entry)) {
    MessageDlg(QStringLiteral("Cannot delete current working file!"), MsgKind::Error,
               MsgButtons::OK);
  } else if (AskYes(QStringLiteral("File ") + FromCodePage(entry) + QStringLiteral(" will be ") +
                        QStringLiteral("permanently deleted along with all entries it "
                                       "contains! - Are you sure?"),
                    MsgKind::Warning) &&
             !entry.empty()) {
    DeleteDataFile(session_, entry);
  }
}

void TForm1::MakeNewFile(const std::string& name) {
  if (SameText(name, session_.WorkingName)) {
    MessageDlg(QStringLiteral("Cannot overwrite current working file!"), MsgKind::Error,
               MsgButtons::OK);
    return;
  }
  // A new data file is a copy of the freshly written sample file; the sample
  // file itself needs no copy.
  WriteSampleFile(session_);
  const std::string sample = std::string(kSampleName) + "." + kSampleExt;
  const std::string target = name + "." + session_.WorkingExt;
  if (!SameText(sample, target)) CopyFileReplacing(session_, sample, target);
  if (AskYes(kMakeDefault, MsgKind::Warning)) SetDefaultFile(session_, name);
  SetWorkingName(name);
}

void TForm1::SaveWorkingFileAs(const std::string& name) {
  // Onto the working file's own name the copy leaves the file as it is.
  CopyFileReplacing(session_, session_.WorkingName + "." + session_.WorkingExt,
                    name + "." + session_.WorkingExt);
  SetWorkingName(name);
  if (AskYes(kMakeDefault, MsgKind::Information)) SetDefaultFile(session_, name);
}

void TForm1::RenameWorkingFile(const std::string& name) {
  if (SameText(name, session_.WorkingName)) {
    MessageDlg(QStringLiteral("Cannot rename to the same name!"), MsgKind::Error, MsgButtons::OK);
    return;
  }
  // On disk the file is spelled as entered; the program names it upper-cased.
  const std::string old = session_.WorkingName + "." + session_.WorkingExt;
  RenameFileReplacing(session_, old, name + "." + session_.WorkingExt);
  SetWorkingName(UpperCaseText(Trim(name)));
  SetDefaultFile(session_, session_.WorkingName);
  // The account follows its data file, as the sync state does: left naming
  // the old name, its syncs would stop.
  if (std::optional<Account> a = LoadAccount(session_); a && SameText(a->dataFile, old)) {
    a->dataFile = session_.WorkingName + "." + session_.WorkingExt;
    SaveAccount(session_, *a);
  }
}

}  // namespace velmora
