#pragma once
// The main window: menu bar, caption naming the working file, and the
// panels shown one at a time. Its creation runs the start-up sequence.
//
// The search/edit window reads the search field and the BY NAME choice from
// here at every search, and shows and hides this window, through
// MainWindowLink.

#include <QMainWindow>
#include <string>
#include <vector>

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
  void ShowMainWindow() override { show(); }
  void HideMainWindow() override { hide(); }

 protected:
  // While HELP waits for the viewer the window stays on screen: closing is
  // put off until the wait is over.
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate(const std::string& programDir);
  void BuildMenu();
  void BuildSearchPanel();
  void BuildComponents();
  void ShowSearchPanel();
  void HideSearchPanel();
  // Opening a panel hides every other panel and the search/edit window.
  void HideOtherPanels();

  void FILE1Click();
  void EXIT1Click();
  void Newrecord1Click();
  void SEARCHClick();
  void HELP1Click();
  void ShowHelp();
  void StringGrid1Click();
  void Button2Click();  // Clear last character
  void Button8Click();  // Clear all
  void Button6Click();  // START SEARCH
  void Button7Click();  // CANCEL

  // The FILE commands and their two panels (tform1_files.cpp).
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
  void SetWorkingName(const std::string& name);
  void NEW1Click();
  void OPEN1Click();
  void SAVEAS1Click();
  void RENAME1Click();
  void DELETE1Click();
  void Button4Click();   // OK of NEW
  void Button9Click();   // OK of OPEN
  void Button11Click();  // OK of SAVE AS
  void Button1Click();   // OK of RENAME and DELETE
  void Button5Click();   // CANCEL of the file panels
  // The OK of NEW, SAVE AS and RENAME: the entered name, the question when
  // its file exists, then the step; the panel closes whatever the outcome.
  void RunOnEnteredName(void (TForm1::*step)(const std::string&));
  // The OK of DELETE: asks, then deletes the file picked in the list.
  void DeleteSelectedFile();
  void MakeNewFile(const std::string& name);
  void SaveWorkingFileAs(const std::string& name);
  void RenameWorkingFile(const std::string& name);

  Session& session_;
  TForm2* form2_ = nullptr;

  QMenu* FILE1;
  QAction* NEW1;
  QAction* OPEN1;
  QAction* SAVEAS1;
  QAction* RENAME1;
  QAction* DELETE1;
  QAction* EXIT1;
  QAction* Newrecord1;
  QAction* SEARCH;
  QAction* HELP1;
  TAppExec* AppExec1;      // starts the help viewer
  TTimelabel* Timelabel1;  // the clock at the top right
  bool closeWhenHelpEnds_ = false;

  QLabel* Label3;
  LetterGrid* StringGrid1;
  QPushButton* Button2;
  QPushButton* Button8;
  QLabel* Label1;
  QLineEdit* Edit1;
  QRadioButton* RadioButton2;  // BY SURNAME
  QRadioButton* RadioButton1;  // BY NAME
  QPushButton* Button6;
  QPushButton* Button7;
  std::vector<QWidget*> searchPanel_;

  QLabel* Label4;  // title of the open file panel
  QLabel* Label2;  // ENTER FILENAME
  NameEntry* MaskEdit2;
  QListWidget* FileListBox1;
  QPushButton* Button5;   // CANCEL
  QPushButton* Button4;   // OK of NEW
  QPushButton* Button9;   // OK of OPEN
  QPushButton* Button11;  // OK of SAVE AS
  QPushButton* Button1;   // OK of RENAME and DELETE
  FilePanel filePanel_ = FilePanel::kNone;
  std::vector<QWidget*> filePanels_;

  // ---- Places as designed ----
  // Left, top, width and height in pixels. A caption wider than designed
  // widens its button or label, never moves it. Width and height are 0 where
  // the control takes its own size.
  struct Place {
    int x, y, w, h;
  };
  static constexpr int kFormWidth = 430, kFormHeight = 330;
  // The clock: the top right corner, above every panel.
  static constexpr Place kTimelabel1{352, 8, 65, 17};
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
  // panel. The entry is as wide as twelve of the widest letter.
  static constexpr Place kLabel4{16, 12, 200, 17};
  static constexpr Place kLabel2{16, 40, 120, 17};
  static constexpr Place kMaskEdit2{16, 60, 0, 21};
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

  static QPushButton* ButtonAt(QWidget* parent, const char* name, const QString& caption,
                               Place at);
  static QLabel* LabelAt(QWidget* parent, const char* name, const QString& caption, Place at);
};

}  // namespace velmora
