#pragma once
// The search/edit window: the result grid that a search fills, deletion of
// an entry by right click, and the record group that edits or adds one. It is
// created once, hidden, and only ever shown and hidden.
//
// A double-click on a row opens the entry's extra text read-only; from edit
// mode ADD/EDIT EXTRA TEXT opens it for editing. PRINT prints the list.
//
// Rows are numbered as the user sees them: row 0 is the header, data rows
// count from 1. The record group's title is the mode flag: "Add new record"
// means add mode, any other title edit mode.

#include <QWidget>
#include <string>

#include "searchedit/mainwindowlink.h"
#include "searchedit/resultmodel.h"
#include "store/session.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTextEdit;

namespace velmora {

class TForm2 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDesignWidth = 578;
  static constexpr int kNarrowWidth = 380;
  static constexpr int kCloseTextWidth = 570;  // after CLOSE TEXT, not 578

  TForm2(Session& session, MainWindowLink& mainWindow, QWidget* parent = nullptr);

  // Fills the grid for the current search string and makes row `row` current
  // (the last row when there are fewer).
  void RunSearch(int row);
  // Removes data row `row` from the grid; the counts stay.
  void RemoveGridRow(int row);
  void HideResultControls();
  void ShowResultControls();

  // Used by the main window's START SEARCH: the grid and its three buttons
  // come back; the hint label is left as it is.
  void ShowGridAndButtons();
  // Used by the main window's NEW RECORD before it shows this window.
  void EnterAddMode();
  // Empties the record group's five fields.
  void ClearRecordFields();

  // The current data row (1 and on), 0 when there is none.
  int CurrentRow() const;
  int GridRowCount() const { return model_.rowCount() + 1; }
  const ResultModel& model() const { return model_; }
  QTableView* grid() const { return StringGrid1; }
  bool InAddMode() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildRecordGroup();
  void SetCurrentRow(int row);
  void SetWidth(int width);
  void LeaveRecordGroup();

  void FormActivate();
  void FormClose();
  void FormResize();
  void StringGrid1MouseDown(const QPoint& pos);
  void Button8Click();  // BACK
  void Button3Click();  // EDIT
  void Button4Click();  // DONE
  void Button9Click();  // CANCEL

  // Extra text and printing (tform2_extratext.cpp).
  void BuildExtraTextControls();
  void HideExtraTextControls();
  std::string EditorFileName() const;
  void LoadNoteInto(QTextEdit* box, const std::string& fileName);
  void StringGrid1DblClick();
  void Button2Click();  // CLOSE TEXT
  void Button5Click();  // ADD/EDIT EXTRA TEXT
  void Button6Click();  // SAVE & EXIT
  void Button7Click();  // CANCEL & EXIT
  void Button1Click();  // PRINT
  void PrintResults();

  Session& session_;
  MainWindowLink& main_;
  ResultModel model_;

  QTableView* StringGrid1;
  QLabel* Label1;
  QLabel* Label4;
  QLabel* Label5;
  QPushButton* Button1;  // PRINT
  QPushButton* Button3;  // EDIT
  QPushButton* Button8;  // BACK

  QGroupBox* GroupBox1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* PHONE1;
  QLabel* PHONE2;
  QLabel* COMMENTS;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  QLineEdit* Edit5;
  QPushButton* Button4;  // DONE
  QPushButton* Button5;  // ADD/EDIT EXTRA TEXT
  QPushButton* Button9;  // CANCEL

  QTextEdit* RichEdit1;  // the text viewer
  QPushButton* Button2;  // CLOSE TEXT
  QGroupBox* GroupBox2;  // the text editor
  QTextEdit* RichEdit2;
  QPushButton* Button6;  // SAVE & EXIT
  QPushButton* Button7;  // CANCEL & EXIT
};

}  // namespace velmora
