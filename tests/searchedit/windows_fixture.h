#pragma once
// Both windows of the address book over a fresh program directory whose
// velmora.ini names FRIENDS.VLM, driven with QTest the way a user would.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTextEdit>
#include <QTest>
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
  void Start(const std::vector<ContactRecord>& records, bool sample = false) {
    if (!sample) {
      dir.Write("velmora.ini", "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n");
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

  template <class T = QWidget>
  T* F1(const char* name) { return Find<T>(*form1, name); }
  template <class T = QWidget>
  T* F2(const char* name) { return Find<T>(*form2, name); }

  void Click(QPushButton* b) {
    ASSERT_TRUE(b->isVisible()) << b->text().toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
  }
  void Menu(const char* action) { form1->findChild<QAction*>(action)->trigger(); }

  void PickLetter(char letter) {
    auto* grid = F1<LetterGrid>("StringGrid1");
    const int code = letter - 'A';
    const QRect cell = grid->visualRect(grid->model()->index(code / 13, code % 13));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  }

  // SEARCH/EDIT, type the text, choose the field, START SEARCH.
  void Search(const QString& text, bool byName = false) {
    Menu("SEARCH");
    QTest::keyClicks(F1<QLineEdit>("Edit1"), text);
    F1<QRadioButton>(byName ? "RadioButton1" : "RadioButton2")->click();
    Click(F1<QPushButton>("Button6"));
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
  QString Counts() {
    return F2<QLabel>("Label4")->text() + "/" + F2<QLabel>("Label5")->text();
  }
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
    Click(F2<QPushButton>("Button3"));
    Click(F2<QPushButton>("Button5"));
  }
  // Clicks the search/edit window's button and answers its question.
  void Answer(MsgResult a, const char* button) {
    dialogs.Queue(a);
    Click(F2<QPushButton>(button));
  }
  QTextEdit* Viewer() { return F2<QTextEdit>("RichEdit1"); }
  QTextEdit* Editor() { return F2<QTextEdit>("RichEdit2"); }
  bool InEditor() { return F2("GroupBox2")->isVisible() && !F2("GroupBox1")->isVisible(); }
  bool InEditMode() { return F2("GroupBox1")->isVisible() && !F2("GroupBox2")->isVisible(); }
  void Type(const char* edit, const QString& text) {
    auto* e = F2<QLineEdit>(edit);
    e->clear();
    QTest::keyClicks(e, text);
  }

  ScriptedDialogs dialogs;
  TestDir dir;
  FaultEnv env;
  Session s{env};
  std::unique_ptr<TForm1> form1;
  std::unique_ptr<TForm2> form2;

 private:
  template <class T>
  static T* Find(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
};

}  // namespace velmora::testing
