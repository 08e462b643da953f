#pragma once
// The letter grid of the search-entry panel (the main window's
// StringGrid1, whose pick is StringGrid1Click): 13 columns by 2 rows, A to M
// over N to Z, 20 by 18 pixels a cell. Under another code page than 1252 it
// holds the upper-case letters of the user's alphabet that the page holds,
// in the alphabet's order, 13 a row, and grows by whole rows. It reports a pick for every mouse
// click on a letter cell (also on the cell already selected) and for Space
// or Enter on the selected cell; the arrow keys only move the selection, so
// that a keyboard user can reach a letter without picking those on the way.
//
// To assistive technology it is a list of letters, not a table: a screen
// reader announces the one letter reached, not the whole row with it.

#include <QTableWidget>

namespace velmora {

class LetterGrid : public QTableWidget {
  Q_OBJECT

 public:
  static constexpr int kColumns = 13, kRows = 2, kCellWidth = 20, kCellHeight = 18;

  explicit LetterGrid(QWidget* parent = nullptr);

  // The letters of the cells, row by row: A to Z under 1252 and 65001 (and
  // when the locale's alphabet is not known), else as described above.
  static QStringList Letters();
  // Sets the cells to Letters(), growing or shrinking the grid by whole
  // rows; the selected cell stays where it is while it holds a letter.
  void FillLetters();
  // The letter of the selected cell, empty when none.
  QString SelectedLetter() const;
  // Tells assistive technology that the selected letter was added, and what
  // the search string has become: the cell's name says it until the
  // selection moves.
  void AnnouncePick(const QString& searchString);
  // What assistive technology calls the cell.
  QString AccessibleName(int row, int column) const;

 signals:
  void picked();  // a letter cell picked, as described above

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  // Typed letters pick nothing: the search text is built by clicks and the
  // navigation keys only, never by the view jumping to a matching cell.
  void keyboardSearch(const QString&) override {}

 private:
  // Tells assistive technology that the cell has the focus.
  void TellFocused(const QModelIndex& cell);

  QPersistentModelIndex pickedCell_;  // the cell AnnouncePick named
  QString searchString_;              // what it said
};

}  // namespace velmora
