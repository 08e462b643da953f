#include "mainwindow/lettergrid.h"

#include <unicode/ucol.h>
#include <unicode/ulocdata.h>
#include <unicode/uset.h>

#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <algorithm>

#include "platform/codepage.h"
#include "platform/widgets.h"

namespace velmora {
namespace {

QStringList LatinLetters() {
  QStringList letters;
  for (char c = 'A'; c <= 'Z'; ++c) letters << QString(QChar(c));
  return letters;
}

// The upper-case letters of the locale's alphabet, as its exemplar
// characters list them, that the page holds in one byte, in the alphabet's
// order. Letters written as two (Czech "ch") have no cell.
QStringList AlphabetLetters(const QLocale& locale, const CodePage& page) {
  const QByteArray name = locale.name().toLatin1();
  UErrorCode status = U_ZERO_ERROR;
  ULocaleData* data = ulocdata_open(name.constData(), &status);
  USet* set = U_SUCCESS(status)
                  ? ulocdata_getExemplarSet(data, nullptr, 0, ULOCDATA_ES_STANDARD, &status)
                  : nullptr;
  if (data) ulocdata_close(data);
  QStringList letters;
  for (int32_t i = 0, n = set && U_SUCCESS(status) ? uset_getItemCount(set) : 0; i < n; ++i) {
    UChar32 first = 0, last = -1;
    UErrorCode itemStatus = U_ZERO_ERROR;
    if (uset_getItem(set, i, &first, &last, nullptr, 0, &itemStatus) != 0) continue;
    for (UChar32 c = first; c <= last; ++c) {
      const char32_t ch = char32_t(c);
      const QString upper = locale.toUpper(QString::fromUcs4(&ch, 1));
      if (upper.size() == 1 && upper.front().isLetter() && page.Lacking(upper).isEmpty() &&
          page.Encode(upper).size() == 1 && !letters.contains(upper))
        letters << upper;
    }
  }
  if (set) uset_close(set);
  status = U_ZERO_ERROR;
  UCollator* order = ucol_open(name.constData(), &status);
  if (U_SUCCESS(status))
    std::stable_sort(letters.begin(), letters.end(), [order](const QString& a, const QString& b) {
      return ucol_strcoll(order, reinterpret_cast<const UChar*>(a.utf16()), int32_t(a.size()),
                          reinterpret_cast<const UChar*>(b.utf16()),
                          int32_t(b.size())) == UCOL_LESS;
    });
  if (order) ucol_close(order);
  return letters;
}

}  // namespace

QStringList LetterGrid::Letters() {
  const CodePage& page = TextCodePage();
  // Chinese and Japanese names are searched by typing.
  if (page.number() == CodePage::kDefaultNumber || page.IsUtf8()) return LatinLetters();
  const QStringList letters = AlphabetLetters(QLocale(), page);
  return letters.isEmpty() ? LatinLetters() : letters;
}

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
  const QStringList letters = Letters();
  const int rows = std::max(kRows, int((letters.size() + kColumns - 1) / kColumns));
  setRowCount(rows);
  resize(kColumns * kCellWidth, rows * kCellHeight);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < kColumns; ++c) {
      const qsizetype at = qsizetype(r) * kColumns + c;
      QTableWidgetItem* cell = item(r, c);
      if (!cell) {
        cell = new QTableWidgetItem;
        cell->setTextAlignment(Qt::AlignCenter);
        setItem(r, c, cell);
      }
      // The cells after the last letter can be neither reached nor picked.
      cell->setFlags(at < letters.size() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable
                                         : Qt::NoItemFlags);
      cell->setText(at < letters.size() ? letters[at] : QString());
    }
  if (currentItem() && !(currentItem()->flags() & Qt::ItemIsEnabled)) setCurrentCell(0, 0);
}

QString LetterGrid::SelectedLetter() const {
  const QTableWidgetItem* cell = currentItem();
  return cell ? cell->text() : QString();
}

void LetterGrid::mousePressEvent(QMouseEvent* event) {
  QTableWidget::mousePressEvent(event);
  const QTableWidgetItem* cell = itemAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && cell && (cell->flags() & Qt::ItemIsEnabled))
    emit picked();
}

void LetterGrid::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
      currentIndex().isValid()) {
    emit picked();
    return;
  }
  // Escape belongs to the window, which closes the panel; the view would
  // take it for a typed letter.
  if (key == Qt::Key_Escape) return event->ignore();
  QTableWidget::keyPressEvent(event);
}

}  // namespace velmora
