#include "mainwindow/lettergrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "platform/widgets.h"

namespace velmora {

LetterGrid::LetterGrid(QWidget* parent) : QTableWidget(kRows, kColumns, parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  for (QHeaderView* h : {horizontalHeader(), verticalHeader()}) {
    h->setMinimumSectionSize(1);
    h->setSectionResizeMode(QHeaderView::Fixed);
  }
  horizontalHeader()->setDefaultSectionSize(kCellWidth);
  verticalHeader()->setDefaultSectionSize(kCellHeight);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setTabKeyNavigation(false);
  setShowGrid(true);
  setFrameShape(QFrame::NoFrame);
  setStyleSheet(QStringLiteral("QTableWidget { background: silver; gridline-color: gray; }"));
  ShowFocusBySelection(this);
  resize(kColumns * kCellWidth, kRows * kCellHeight);
  FillLetters();
  setCurrentCell(0, 0);
}

void LetterGrid::FillLetters() {
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c) {
      const QString letter(QChar(65 + 13 * r + c));
      QTableWidgetItem* cell = item(r, c);
      if (!cell) {
        cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        cell->setTextAlignment(Qt::AlignCenter);
        setItem(r, c, cell);
      }
      cell->setText(letter);
    }
}

QString LetterGrid::SelectedLetter() const {
  const QTableWidgetItem* cell = currentItem();
  return cell ? cell->text() : QString();
}

void LetterGrid::mousePressEvent(QMouseEvent* event) {
  QTableWidget::mousePressEvent(event);
  if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
    emit picked();
}

void LetterGrid::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
      currentIndex().isValid()) {
    emit picked();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

}  // namespace velmora
