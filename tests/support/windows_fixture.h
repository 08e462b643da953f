#pragma once
// Both windows of the address book over a fresh program directory whose
// velmora.ini names FRIENDS.VLM, driven with QTest the way a user would.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <memory>

#include "mainwindow/lettergrid.h"
#include "mainwindow/tform1.h"
#include "searchedit/tform2.h"
#include "support/dialogs.h"
#include "support/fakeenv.h"
#include "support/records.h"
#include "support/testdir.h"

namespace velmora::testing {

class WindowsTest : public ::testing::Test {
 protected:
  // Starts the program on FRIENDS.VLM holding `records`; with `sample`, no
  // configured file exists and the sample file is the working file.
  // Called again, it starts afresh.
  void Start(const std::vector<ContactRecord>& records, bool sample = false) {
    form2.reset();
    form1.reset();
    if (!sample) {
      dir.Write("velmora.ini",
                "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n" + iniExtra);
      WriteWorking(records);
    }
    form1 = std::make_unique<TForm1>(s, dir.path());
    form2 = std::make_unique<TForm2>(s, *form1);
    form1->SetSearchWindow(form2.get());
    form1->show();
  }
  ~WindowsTest() override {
    form2.reset();
    form1.reset();
  }

  void WriteWorking(const std::vector<ContactRecord>& records) {
    dir.Write("FRIENDS.VLM", FileOf(records));
  }
  std::string Working() const { return dir.Read("FRIENDS.VLM"); }

  // The controls by what they do; docs/names.md maps each to its name.
  enum RecordField { kName, kSurname, kPhone1, kPhone2, kComments };

  // Main window: the search panel.
  QLineEdit* SearchField() { return F1<QLineEdit>("Edit1"); }
  LetterGrid* Letters() { return F1<LetterGrid>("StringGrid1"); }
  QPushButton* ClearLastButton() { return F1<QPushButton>("Button2"); }
  QPushButton* ClearAllButton() { return F1<QPushButton>("Button8"); }
  QRadioButton* ByNameChoice() { return F1<QRadioButton>("RadioButton1"); }
  QRadioButton* BySurnameChoice() { return F1<QRadioButton>("RadioButton2"); }
  QPushButton* StartSearchButton() { return F1<QPushButton>("Button6"); }
  QPushButton* CancelSearchButton() { return F1<QPushButton>("Button7"); }
  QLabel* Clock() { return F1<QLabel>("Timelabel1"); }
  // Main window: the file panels.
  QLineEdit* FileNameEntry() { return F1<QLineEdit>("MaskEdit2"); }
  QListWidget* FileList() { return F1<QListWidget>("FileListBox1"); }
  QPushButton* NewOkButton() { return F1<QPushButton>("Button4"); }
  QPushButton* OpenOkButton() { return F1<QPushButton>("Button9"); }
  QPushButton* SaveAsOkButton() { return F1<QPushButton>("Button11"); }
  QPushButton* RenameDeleteOkButton() { return F1<QPushButton>("Button1"); }
  QPushButton* FileCancelButton() { return F1<QPushButton>("Button5"); }
  // Search/edit window: the result grid and its buttons. Of the two counts
  // beside the grid, the total is the working file's records, the shown
  // one the grid's rows (the message row counts as one shown).
  QLabel* HintLabel() { return F2<QLabel>("Label1"); }
  QLabel* TotalCountLabel() { return F2<QLabel>("Label4"); }
  QLabel* ShownCountLabel() { return F2<QLabel>("Label5"); }
  QPushButton* EditButton() { return F2<QPushButton>("Button3"); }
  QPushButton* PrintButton() { return F2<QPushButton>("Button1"); }
  QPushButton* BackButton() { return F2<QPushButton>("Button8"); }
  // Search/edit window: the record group (its SURNAME label also shows
  // whose record is being edited).
  QWidget* RecordGroup() { return F2("GroupBox1"); }
  QLabel* NameLabel() { return F2<QLabel>("Label2"); }
  QLabel* SurnameLabel() { return F2<QLabel>("Label3"); }
  QLineEdit* Field(RecordField f) {
    static constexpr const char* kEdits[] = {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5"};
    return F2<QLineEdit>(kEdits[f]);
  }
  QPushButton* DoneButton() { return F2<QPushButton>("Button4"); }
  QPushButton* CancelEditButton() { return F2<QPushButton>("Button9"); }
  QPushButton* ExtraTextButton() { return F2<QPushButton>("Button5"); }
  // Search/edit window: the extra text's viewer and editor.
  QTextEdit* Viewer() { return F2<QTextEdit>("RichEdit1"); }
  QPushButton* CloseTextButton() { return F2<QPushButton>("Button2"); }
  QWidget* TextEditorGroup() { return F2("GroupBox2"); }
  QTextEdit* Editor() { return F2<QTextEdit>("RichEdit2"); }
  QPushButton* SaveTextButton() { return F2<QPushButton>("Button6"); }
  QPushButton* CancelTextButton() { return F2<QPushButton>("Button7"); }

  void Click(QPushButton* b) {
    ASSERT_TRUE(b->isVisible()) << b->text().toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
  }
  // Opens the FILE menu, as a click on it does, without choosing a command.
  void OpenFileMenu() { QMetaObject::invokeMethod(F1<QMenu>("FILE1"), "aboutToShow"); }
  // Chooses the menu command with this caption ("NEW RECORD", "OPEN"...).
  void Menu(const char* caption) {
    for (QAction* a : form1->findChildren<QAction*>()) {
      // The caption as shown: "&" only marks the access key.
      if (QString(a->text()).remove(QLatin1Char('&')) == QLatin1String(caption) && !a->menu()) {
        a->trigger();
        return;
      }
    }
    ADD_FAILURE() << "no menu command " << caption;
  }

  // A key as the keyboard sends it: to the open menu, else to the widget
  // with the focus, else to the active window.
  void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QCoreApplication::processEvents();
    QWidget* to = QApplication::activePopupWidget();
    if (!to) to = QApplication::focusWidget();
    if (!to) to = QApplication::activeWindow();
    ASSERT_NE(to, nullptr) << "no window takes the keyboard";
    QTest::keyClick(to, Qt::Key(key), modifiers);
    QCoreApplication::processEvents();
  }
  void PressTyping(const QString& text) {
    for (QChar c : text) {
      QCoreApplication::processEvents();
      QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
  }
  // Tab until the focus reaches `w`; false when it never does.
  bool TabTo(QWidget* w) {
    for (int i = 0; i < 30 && QApplication::focusWidget() != w; ++i) Press(Qt::Key_Tab);
    return QApplication::focusWidget() == w;
  }

  void PickLetter(char letter) {
    auto* grid = Letters();
    const int code = letter - 'A';
    const QRect cell = grid->visualRect(grid->model()->index(code / 13, code % 13));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  }

  // Key presses typing `text`, letters of every alphabet included.
  static void TypeInto(QWidget* w, const QString& text) {
    for (QChar c : text) {
      if (c.unicode() < 0x80)
        QTest::keyClicks(w, QString(c));
      else
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  }

  // SEARCH/EDIT, type the text, choose the field, START SEARCH.
  void Search(const QString& text, bool byName = false) {
    Menu("SEARCH/EDIT");
    TypeInto(SearchField(), text);
    (byName ? ByNameChoice() : BySurnameChoice())->click();
    Click(StartSearchButton());
  }

  // Grid rows as the user numbers them: header 0, data from 1.
  QString Cell(int row, int col) {
    QTableView* g = form2->grid();
    return row == 0 ? g->model()->headerData(col, Qt::Horizontal).toString()
                    : g->model()->index(row - 1, col).data().toString();
  }
  std::vector<QString> Column(int col) {
    std::vector<QString> out;
    for (int r = 1; r < form2->GridRowCount(); ++r) out.push_back(Cell(r, col));
    return out;
  }
  // "total/shown".
  QString Counts() { return TotalCountLabel()->text() + "/" + ShownCountLabel()->text(); }
  void RightClickRow(int row) {
    QTableView* g = form2->grid();
    const QModelIndex at = g->model()->index(row - 1, 1);
    g->scrollTo(at);
    QTest::mouseClick(g->viewport(), Qt::RightButton, {}, g->visualRect(at).center());
  }
  void SelectRow(int row) {
    QTableView* g = form2->grid();
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {},
                      g->visualRect(g->model()->index(row - 1, 0)).center());
  }
  void DoubleClickRow(int row) {
    QTableView* g = form2->grid();
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {},
                       g->visualRect(g->model()->index(row - 1, 0)).center());
  }
  // EDIT on the row, then ADD/EDIT EXTRA TEXT.
  void OpenEditor(int row) {
    SelectRow(row);
    Click(EditButton());
    Click(ExtraTextButton());
  }
  // Clicks the search/edit window's button and answers its question.
  void Answer(MsgResult a, QPushButton* button) {
    dialogs.Queue(a);
    Click(button);
  }
  bool InEditor() { return TextEditorGroup()->isVisible() && !RecordGroup()->isVisible(); }
  bool InEditMode() { return RecordGroup()->isVisible() && !TextEditorGroup()->isVisible(); }
  void Type(RecordField f, const QString& text) {
    QLineEdit* e = Field(f);
    e->clear();
    TypeInto(e, text);
  }

  std::string iniExtra;  // more lines of velmora.ini, for Start
  ScriptedDialogs dialogs;
  TestDir dir;
  FaultEnv env;
  Session s{env};
  std::unique_ptr<TForm1> form1;
  std::unique_ptr<TForm2> form2;

 private:
  template <class T = QWidget>
  T* F1(const char* name) {
    return Find<T>(*form1, name);
  }
  template <class T = QWidget>
  T* F2(const char* name) {
    return Find<T>(*form2, name);
  }
  template <class T>
  static T* Find(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
};

}  // namespace velmora::testing
