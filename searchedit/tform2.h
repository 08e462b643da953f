#pragma once
// The search/edit window: the result grid that a search fills, deletion of
// an entry by right click or key, and the record group that edits or adds
// one. It is created once, hidden, and only ever shown and hidden.
//
// A double-click on a row, or Enter, opens the entry's extra text read-only;
// from edit mode ADD/EDIT EXTRA TEXT opens it for editing. PRINT prints the
// list.
//
// Rows are numbered as the user sees them: row 0 is the header, data rows
// count from 1; ModelRow() gives the result model's row, which counts from 0.
// The record group's mode shows as its title ("Add new record" in add mode,
// "Edit record" in edit mode); SetRecordMode() alone sets it.

#include <QWidget>
#include <string>

#include "platform/widgets.h"
#include "searchedit/mainwindowlink.h"
#include "searchedit/resultmodel.h"
#include "store/session.h"

class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTextEdit;

namespace velmora {

class TForm2 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDesignWidth = 578;     // the results view
  static constexpr int kNarrowWidth = 380;     // edit mode, add mode, text viewer
  static constexpr int kCloseTextWidth = 570;  // after CLOSE TEXT, not 578

  TForm2(Session& session, MainWindowLink& mainWindow, QWidget* parent = nullptr);

  // Fills the grid for the current search string and makes row `row` current
  // (the last row when there are fewer).
  void RunSearch(int row);
  // Removes data row `row` from the grid, the message row standing in for
  // the last one; the counts stay.
  void RemoveGridRow(int row);
  // The result controls: Label1, StringGrid1, PRINT, EDIT and BACK.
  void HideResultControls();
  void ShowResultControls();

  // Used by the main window's START SEARCH: the grid and its three buttons
  // come back; the hint label is left as it is.
  void ShowGridAndButtons();
  // Used by the main window's NEW RECORD before it shows this window.
  void EnterAddMode();
  // Empties the record group's five fields.
  void ClearRecordFields();
  // A sync changed the working file: the result grid, when on screen, is
  // searched again, its current row kept. An entry being edited is left to
  // DONE, which finds out whether it changed.
  void SearchAgainAfterSync();

  // The current data row (1 and on), 0 when there is none.
  int CurrentRow() const;
  int GridRowCount() const { return kHeaderRows + model_.rowCount(); }
  const ResultModel& model() const { return model_; }
  QTableView* grid() const { return StringGrid1; }
  bool InAddMode() const { return recordMode_ == RecordMode::kAdd; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // What the record group is doing; its title says it. DONE and CANCEL close
  // the window after kAdd and return to the results view after either edit.
  // kEditUnnamed edits an entry whose NAME or SURNAME is blank, as imports
  // leave them: both are offered to type in, and DONE asks for them as for
  // a new entry. kDesign is the title the group carries until it first
  // opens, which nobody sees; like the edits, it is not add mode.
  enum class RecordMode { kDesign, kAdd, kEdit, kEditUnnamed };

  // The grid's header is its row 0; the model holds only the data rows.
  static constexpr int kHeaderRows = 1;
  static constexpr int ModelRow(int gridRow) { return gridRow - kHeaderRows; }
  static constexpr int GridRow(int modelRow) { return modelRow + kHeaderRows; }

  void BuildControls();
  void BuildRecordGroup();
  void SetCurrentRow(int row);
  // Tells assistive technology the current cell, with its row, as focused.
  void AnnounceCurrentRow();
  void SetWidth(int width);

  // ---- The grid (tform2.cpp) ----
  void FormActivate();  // each show: hides the main window, searches, row 1 current
  void FormClose();     // close box and BACK: the main window comes back
  void FormResize();    // the window never stays maximised or minimised
  void StringGrid1MouseDown(const QPoint& pos);  // right click: DeleteEntryAt
  void DeleteEntryAt(const QPoint& pos);
  // Asks, then deletes the entry of data row `row` (1 and on) from the file
  // and the grid.
  void DeleteRow(int row);
  // The entry of data row `row` is no longer in the file: says so and
  // searches again, row `row` current.
  void SearchAgainAfterAChange(int row);
  // The grid's keys: Enter opens the extra text, Delete, the menu key and
  // Shift+F10 delete, Escape is BACK. False for any other key.
  bool GridKey(const QKeyEvent& key);
  void Button8Click();  // BACK

  // ---- The record group (tform2.cpp) ----
  // Writes the group's title and shows what the mode offers: NAME and
  // SURNAME to type in add mode and kEditUnnamed; in kEdit the entry's name
  // in Label3 instead, and ADD/EDIT EXTRA TEXT.
  void SetRecordMode(RecordMode mode);
  // Label3 back to "SURNAME", beside its field.
  void ShowSurnameLabel();
  // Hides the group and puts back what edit mode changed in it.
  void LeaveRecordGroup();
  void Button3Click();  // EDIT: EditCurrentRow
  void Button4Click();  // DONE: SaveRecord
  void Button9Click();  // CANCEL: CancelRecord
  void EditCurrentRow();
  void SaveRecord();
  void CancelRecord();

  // ---- Extra text and printing (tform2_extratext.cpp) ----
  void BuildExtraTextControls();
  void HideExtraTextControls();
  std::string EditorFileName() const;
  void LoadNoteInto(QTextEdit* box, const std::string& fileName);
  void StringGrid1DblClick();  // OpenTextViewer
  void Button2Click();         // CLOSE TEXT: CloseTextViewer
  void Button5Click();         // ADD/EDIT EXTRA TEXT: OpenTextEditor
  void Button6Click();         // SAVE & EXIT: SaveNoteAndExit
  void Button7Click();         // CANCEL & EXIT: DiscardNoteAndExit
  void Button1Click();         // PRINT: PrintResults
  void OpenTextViewer();
  void CloseTextViewer();
  void OpenTextEditor();
  void SaveNoteAndExit();
  void DiscardNoteAndExit();
  void PrintResults();

  Session& session_;
  MainWindowLink& main_;
  ResultModel model_;  // the grid's data rows, from 0
  RecordMode recordMode_ = RecordMode::kDesign;

  // The results view.
  QTableView* StringGrid1;  // the result grid: header row, then one row per match
  QLabel* Label1;           // hint "For extra info, double_click on selection"
  QLabel* Label4;           // record count of the working file
  QLabel* Label5;           // row count of the grid, the message row included
  QPushButton* Button1;     // PRINT
  QPushButton* Button3;     // EDIT
  QPushButton* Button8;     // BACK

  // The record group, for edit mode and add mode.
  QGroupBox* GroupBox1;  // the record group; its title shows the mode
  QLabel* Label2;        // "NAME"; add mode only
  QLabel* Label3;        // "SURNAME"; in edit mode "Edit details for NAME SURNAME."
  QLabel* PHONE1;        // "PHONE1"
  QLabel* PHONE2;        // "PHONE2"
  QLabel* COMMENTS;      // "COMMENTS"
  QLineEdit* Edit1;      // NAME; in edit mode the row's NAME, hidden unless it or SURNAME is blank
  QLineEdit* Edit2;      // SURNAME; in edit mode the row's SURNAME, hidden as Edit1
  QLineEdit* Edit3;      // PHONE1
  QLineEdit* Edit4;      // PHONE2
  QLineEdit* Edit5;      // COMMENTS
  QPushButton* Button4;  // DONE
  QPushButton* Button5;  // ADD/EDIT EXTRA TEXT; edit mode only
  QPushButton* Button9;  // CANCEL

  // Extra text.
  QTextEdit* RichEdit1;  // the text viewer, read-only, over the grid
  QPushButton* Button2;  // CLOSE TEXT, of the text viewer
  QGroupBox* GroupBox2;  // the text editor, in the record group's place; title "GroupBox2"
  QTextEdit* RichEdit2;  // the text editor's box
  QPushButton* Button6;  // SAVE & EXIT, of the text editor
  QPushButton* Button7;  // CANCEL & EXIT, of the text editor

  // ---- Places as designed ----
  // Left, top, width and height in pixels; a group's controls within their
  // group. A caption wider than designed widens its button or label, never
  // moves it.
  static constexpr Place kForm2{27, 102, kDesignWidth, 298};
  static constexpr Place kStringGrid1{24, 16, 537, 169};
  static constexpr int kColumnWidths[ResultModel::kColumns] = {85, 87, 88, 90, 170};
  static constexpr int kRowHeight = 24;               // the header's too
  static constexpr Place kLabel1{368, 192, 187, 13};  // ends where the grid ends
  static constexpr Place kLabel4{384, 208, 89, 17};
  static constexpr Place kLabel5{384, 232, 97, 17};
  static constexpr Place kButton3{24, 192, 49, 25};
  static constexpr Place kButton1{104, 192, 57, 25};
  static constexpr Place kButton8{216, 192, 49, 25};
  static constexpr Place kGroupBox1{16, 16, 321, 217};
  // The labels end before the fields whatever the font's width.
  static constexpr Place kLabel2{40, 20, 31, 17};
  static constexpr Place kLabel3{40, 52, 54, 17};
  static constexpr Place kPHONE1{40, 84, 44, 17};
  static constexpr Place kPHONE2{40, 116, 44, 17};
  static constexpr Place kCOMMENTS{40, 148, 62, 17};
  static constexpr Place kEdit1{104, 16, 137, 21};
  static constexpr Place kEdit2{104, 48, 137, 21};
  static constexpr Place kEdit3{104, 80, 137, 21};
  static constexpr Place kEdit4{104, 112, 137, 21};
  static constexpr Place kEdit5{104, 144, 193, 21};
  static constexpr Place kButton5{8, 184, 137, 25};
  static constexpr Place kButton4{152, 184, 65, 25};
  static constexpr Place kButton9{248, 184, 49, 25};
  static constexpr Place kRichEdit1{16, 32, 329, 129};
  static constexpr Place kButton2{176, 176, 75, 25};
  static constexpr Place kGroupBox2{0, 24, 353, 153};
  static constexpr Place kRichEdit2{8, 16, 337, 89};
  static constexpr Place kButton6{56, 120, 65, 25};
  static constexpr Place kButton7{184, 120, 81, 25};
  // Gap between a label's end and its field.
  static constexpr int kLabelGap = 4;
  // The record group's inside margin, where ADD/EDIT EXTRA TEXT starts; the
  // edit-mode line of Label3 keeps it on both sides.
  static constexpr int kGroupMargin = kButton5.x;

  // One of the two extra-text boxes.
  static void NoteBoxAt(QTextEdit* box, const char* name, Place at);
  // A field named after the label beside it.
  static QLineEdit* EditAt(QWidget* parent, const char* name, QLabel* label, Place at);
  // Ends a label kLabelGap before its field, or leaves it at its designed
  // left edge when it ends before that anyway.
  static void EndBeforeField(QLabel* label, Place designed, const QWidget* field);
};

}  // namespace velmora
