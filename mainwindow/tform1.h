#pragma once
// The main window: menu bar, caption naming the working file, and the
// panels shown one at a time. Its creation runs the start-up sequence.
//
// The search/edit window reads the search field and the BY NAME choice from
// here at every search, and shows and hides this window, through
// MainWindowLink.
//
// The SYNC menu syncs the working file with the folder's CardDAV account, in
// the background (BackgroundSync); the status line at the foot tells how
// the last sync ended.

#include <QMainWindow>
#include <string>
#include <vector>

#include "platform/widgets.h"
#include "searchedit/mainwindowlink.h"
#include "store/session.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;

namespace velmora {

class BackgroundSync;
struct SyncOutcome;
class LetterGrid;
class NameEntry;
class TAppExec;
class TForm2;
class TTimelabel;

class TForm1 : public QMainWindow, public MainWindowLink {
  Q_OBJECT

 public:
  static constexpr int kSearchFieldLength = 16;

  // programDir: where the program's files lie, ending in "/".
  TForm1(Session& session, const std::string& programDir, QWidget* parent = nullptr);

  Session& session() { return session_; }

  // The search/edit window, created after this one.
  void SetSearchWindow(TForm2* form2) { form2_ = form2; }

  QString SearchFieldText() const override;
  bool SearchByName() const override;
  // Shown where it was, and given the keyboard, which the hidden window held.
  void ShowMainWindow() override;
  void HideMainWindow() override;
  std::optional<QPoint> MainWindowPlace() const override { return geometry().topLeft(); }
  // A sync follows once the user's changes pause.
  void EntriesChanged() override;

 protected:
  // While HELP waits for the viewer the window stays on screen: closing is
  // put off until the wait is over.
  void closeEvent(QCloseEvent* event) override;
  // Enter and Escape in the file panels, Escape in the search-entry panel.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormCreate(const std::string& programDir);  // runs the start-up, sets the caption
  void BuildMenu();
  void BuildSearchPanel();
  void BuildComponents();
  void BuildSync();
  void HideSearchPanel();
  // The window takes the focus when a control of the panel about to hide
  // holds it.
  void KeepFocusOffHidden(const std::vector<QWidget*>& panel);
  // Opening a panel hides every other panel and the search/edit window.
  void HideOtherPanels();

  // ---- The menu bar, the search-entry panel, NEW RECORD, HELP (tform1.cpp) ----
  void FILE1Click();        // the FILE menu opens: hides the search-entry panel
  void EXIT1Click();        // EXIT: closes the window, which ends the program
  void Newrecord1Click();   // NEW RECORD: StartNewRecord
  void SEARCHClick();       // SEARCH/EDIT: OpenSearchPanel
  void HELP1Click();        // HELP: ShowHelp
  void StringGrid1Click();  // a letter picked: appended to the search field
  void Button2Click();      // Clear last character: ClearLastCharacter
  void Button8Click();      // Clear all: empties the search field
  void Button6Click();      // START SEARCH: StartSearch
  void Button7Click();      // CANCEL: closes the panel, empties the search field
  // The search/edit window in add mode, unless the working file is the
  // sample file.
  void StartNewRecord();
  // The letters filled anew, the search field emptied, the panel shown.
  void OpenSearchPanel();
  // Starts the help viewer and waits until it ends.
  void ShowHelp();
  // An EXIT put off by the wait: ends the program whichever window shows.
  void CloseBothWindows();
  // The search field trimmed, then one character shorter.
  void ClearLastCharacter();
  // Closes the panel and shows the search/edit window, whose showing runs the
  // search.
  void StartSearch();

  // ---- The SYNC menu and the status line (tform1_sync.cpp) ----
  void SYNCNOW1Click();  // SYNC NOW: a sync now, or the account dialog when none is set up
  void ACCOUNT1Click();  // ACCOUNT...: OpenAccountDialog
  void OpenAccountDialog();
  // The status line and the menu's tip; conflicts, and an error not told
  // before, in a box; a result grid on screen searched again after
  // changes here.
  void SyncFinished(const SyncOutcome& outcome);
  void ShowSyncStatus(const QString& status);

  // ---- The FILE commands and their two panels (tform1_files.cpp) ----
  // Which command's panel is open: NEW, SAVE AS and RENAME show the name
  // entry, OPEN and DELETE the file list; each shows its own OK button.
  // RENAME and DELETE share theirs, Button1, which acts by this.
  enum class FilePanel { kNone, kNew, kOpen, kSaveAs, kRename, kDelete };
  void BuildFilePanels();
  // Opens the command's panel, hiding every other panel and the search/edit
  // window; kNone closes it. The one writer of filePanel_.
  void SetFilePanel(FilePanel panel);
  void HideFilePanels() { SetFilePanel(FilePanel::kNone); }
  void RefreshFileList();
  std::string SelectedEntry() const;
  // The working file and the caption, always together.
  void SetWorkingName(const std::string& name);
  void NEW1Click();      // NEW: the name-entry panel, "File/New"
  void OPEN1Click();     // OPEN: the file-list panel, "File/Open"
  void SAVEAS1Click();   // SAVE AS: the name-entry panel, "File/Save As"
  void RENAME1Click();   // RENAME: the name-entry panel, "File/Rename"
  void DELETE1Click();   // DELETE: the file-list panel, "File/Delete"
  void Button4Click();   // OK of NEW: MakeNewFile on the entered name
  void Button9Click();   // OK of OPEN: OpenSelectedFile
  void Button11Click();  // OK of SAVE AS: SaveWorkingFileAs on the entered name
  void Button1Click();   // OK of RENAME and DELETE: RenameWorkingFile or DeleteSelectedFile
  void Button5Click();   // CANCEL of the file panels: closes the panel
  // The OK of NEW, SAVE AS and RENAME: the entered name, the question when
  // its file exists, then the step; the panel closes whatever the outcome.
  void RunOnEnteredName(void (TForm1::*step)(const std::string&));
  // The OK of OPEN: the picked file becomes the working file; the panel
  // closes whatever the outcome.
  void OpenSelectedFile();
  // The OK of DELETE: asks, then deletes the file picked in the list.
  void DeleteSelectedFile();
  void MakeNewFile(const std::string& name);
  void SaveWorkingFileAs(const std::string& name);
  void RenameWorkingFile(const std::string& name);

  Session& session_;
  TForm2* form2_ = nullptr;                // the search/edit window
  bool closeWhenHelpEnds_ = false;         // EXIT or the close box while HELP waited
  std::optional<QPoint> placeWhenHidden_;  // where the hidden window comes back

  // The menu bar.
  QMenu* FILE1;            // "FILE", the sub-menu of the file commands
  QAction* NEW1;           // "NEW": a new data file, a copy of the sample file
  QAction* OPEN1;          // "OPEN": another data file becomes the working file
  QAction* SAVEAS1;        // "SAVE AS": a copy of the working file, which then works on
  QAction* RENAME1;        // "RENAME": the working file under a new name
  QAction* DELETE1;        // "DELETE": deletes data files other than the working file
  QAction* EXIT1;          // "EXIT": ends the program
  QAction* Newrecord1;     // "NEW RECORD": the search/edit window in add mode
  QAction* SEARCH;         // "SEARCH/EDIT": the search-entry panel
  QAction* HELP1;          // "HELP": the help viewer
  QMenu* SYNC1;            // "SYNC", the sub-menu of the account's sync
  QAction* SYNCNOW1;       // "SYNC NOW": syncs with the account at once
  QAction* ACCOUNT1;       // "ACCOUNT...": sets up, changes or removes the account
  TAppExec* AppExec1;      // starts the help viewer and waits for it
  TTimelabel* Timelabel1;  // the clock at the top right

  // The sync with the account.
  QLabel* Label5;                   // the status line: how the last sync ended; empty without one
  BackgroundSync* BackgroundSync1;  // syncs on a thread of its own
  std::string syncErrorTold_;       // the error last shown in a box, until a sync succeeds

  // The search-entry panel; the search/edit window reads Edit1 and
  // RadioButton1 at every search.
  QLabel* Label3;                      // "Click on character to add to search string"
  LetterGrid* StringGrid1;             // the letters A to Z, picked into the search field
  QPushButton* Button2;                // "Clear last character"
  QPushButton* Button8;                // "Clear all"
  QLabel* Label1;                      // "ENTER SEARCH STRING"
  QLineEdit* Edit1;                    // the search field, at most 16 characters
  QRadioButton* RadioButton2;          // "BY SURNAME", chosen at start
  QRadioButton* RadioButton1;          // "BY NAME": the search matches NAME
  QPushButton* Button6;                // "START SEARCH"
  QPushButton* Button7;                // "CANCEL" of the search-entry panel
  std::vector<QWidget*> searchPanel_;  // the ten controls above

  // The name-entry panel (NEW, SAVE AS, RENAME) and the file-list panel
  // (OPEN, DELETE); Label4, CANCEL and one OK belong to both.
  QLabel* Label4;             // title of the open file panel, "File/New" ...
  QLabel* Label2;             // "ENTER FILENAME"
  NameEntry* MaskEdit2;       // the name entry: 12 letters or digits
  QListWidget* FileListBox1;  // the file list: the data files of the program directory
  QPushButton* Button5;       // "CANCEL" of the file panels
  QPushButton* Button4;       // "OK" of NEW
  QPushButton* Button9;       // "OK" of OPEN
  QPushButton* Button11;      // "OK" of SAVE AS
  QPushButton* Button1;       // "OK" of RENAME and of DELETE
  FilePanel filePanel_ = FilePanel::kNone;
  std::vector<QWidget*> filePanels_;  // every control of the two panels

  // ---- Places as designed ----
  // Left, top, width and height in pixels. A caption wider than designed
  // widens its button or label, never moves it. Width and height are 0 where
  // the control takes its own size.
  static constexpr int kFormWidth = 430, kFormHeight = 330;
  // The clock: the top right corner, above every panel.
  static constexpr Place kTimelabel1{352, 8, 65, 17};
  // The status line: the foot of the window, below every panel.
  static constexpr Place kLabel5{16, 280, 398, 17};
  // The search-entry panel. The top right corner stays free for the clock.
  static constexpr Place kLabel3{16, 12, 260, 17};
  static constexpr Place kStringGrid1{16, 34, 0, 0};
  static constexpr Place kButton2{16, 82, 121, 25};
  static constexpr Place kButton8{148, 82, 73, 25};
  static constexpr Place kLabel1{16, 124, 140, 17};
  static constexpr Place kEdit1{16, 144, 161, 21};
  static constexpr Place kRadioButton2{200, 124, 0, 0};
  static constexpr Place kRadioButton1{200, 146, 0, 0};
  static constexpr Place kButton6{16, 184, 105, 25};
  static constexpr Place kButton7{132, 184, 73, 25};
  // The name-entry and file-list panels, in the place of the search-entry
  // panel.
  static constexpr Place kLabel4{16, 12, 200, 17};
  static constexpr Place kLabel2{16, 40, 120, 17};
  // The name entry is as wide as twelve of the widest letter and its frame.
  static constexpr Place kMaskEdit2{16, 60, 0, 21};
  static constexpr int kMaskEdit2Frame = 12;
  static constexpr Place kFileListBox1{16, 40, 200, 180};
  // The four OK buttons lie on one another, CANCEL below them, all
  // kFileButtonGap right of the list, and as far right of the name entry.
  static constexpr int kFileButtonGap = 16;
  static constexpr Place kButton4{232, 40, 73, 25};
  static_assert(kButton4.x == kFileListBox1.x + kFileListBox1.w + kFileButtonGap);
  static constexpr Place kButton9 = kButton4;
  static constexpr Place kButton11 = kButton4;
  static constexpr Place kButton1 = kButton4;
  static constexpr Place kButton5{kButton4.x, 72, 73, 25};
};

}  // namespace velmora
