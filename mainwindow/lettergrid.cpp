#include "mainwindow/lettergrid.h"

#include <unicode/ucol.h>
#include <unicode/ulocdata.h>
#include <unicode/uset.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPointer>
#include <algorithm>
#include <map>

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

// One cell: a list item named by its letter. The view's own accessibility
// events name a cell by row * kColumns + column, as here, since the grid
// shows no headers.
class AccessibleLetter final : public QAccessibleInterface {
 public:
  AccessibleLetter(LetterGrid* grid, int index) : grid_(grid), index_(index) {}
  bool isValid() const override { return grid_ && Cell(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return grid_ ? grid_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(grid_.data());
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Name && isValid()
               ? grid_->AccessibleName(index_ / LetterGrid::kColumns, index_ % LetterGrid::kColumns)
               : QString();
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid()) return {};
    const QRect r = grid_->visualItemRect(Cell());
    return {grid_->viewport()->mapToGlobal(r.topLeft()), r.size()};
  }
  QAccessible::Role role() const override { return QAccessible::ListItem; }
  QAccessible::State state() const override {
    QAccessible::State st;
    const QTableWidgetItem* cell = isValid() ? Cell() : nullptr;
    if (!cell || !(cell->flags() & Qt::ItemIsEnabled)) {
      st.disabled = true;
      return st;
    }
    st.focusable = st.selectable = true;
    st.selected = cell->isSelected();
    st.focused = grid_->hasFocus() && grid_->currentItem() == cell;
    return st;
  }

 private:
  QTableWidgetItem* Cell() const {
    return grid_->item(index_ / LetterGrid::kColumns, index_ % LetterGrid::kColumns);
  }
  QPointer<LetterGrid> grid_;
  int index_;
};

class AccessibleLetters final : public QAccessibleWidget {
 public:
  explicit AccessibleLetters(LetterGrid* grid) : QAccessibleWidget(grid, QAccessible::List) {}
  ~AccessibleLetters() override {
    for (const auto& [index, id] : cells_) QAccessible::deleteAccessibleInterface(id);
  }
  int childCount() const override { return Grid()->rowCount() * LetterGrid::kColumns; }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    auto [at, added] = cells_.try_emplace(index, 0);
    if (added)
      at->second = QAccessible::registerAccessibleInterface(new AccessibleLetter(Grid(), index));
    return QAccessible::accessibleInterface(at->second);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (const auto& [index, id] : cells_)
      if (QAccessible::accessibleInterface(id) == child) return index;
    return -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    const QPoint at = Grid()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex cell = Grid()->indexAt(at);
    return cell.isValid() ? child(cell.row() * LetterGrid::kColumns + cell.column()) : nullptr;
  }
  QAccessibleInterface* focusChild() const override {
    const QModelIndex cell = Grid()->currentIndex();
    return Grid()->hasFocus() && cell.isValid()
               ? child(cell.row() * LetterGrid::kColumns + cell.column())
               : nullptr;
  }

 private:
  LetterGrid* Grid() const { return static_cast<LetterGrid*>(widget()); }
  mutable std::map<int, QAccessible::Id> cells_;
};

QAccessibleInterface* AccessibleLettersOf(const QString& className, QObject* object) {
  if (className != QLatin1String(LetterGrid::staticMetaObject.className())) return nullptr;
  return new AccessibleLetters(static_cast<LetterGrid*>(object));
}

}  // namespace

QStringList LetterGrid::Letters() {
  const CodePage& page = TextCodePage();
  // Chinese and Japanese names are searched by typing.
  if (page.number() == CodePage::kDefaultNumber || page.IsMultiByte()) return LatinLetters();
  const QStringList letters = AlphabetLetters(QLocale(), page);
  return letters.isEmpty() ? LatinLetters() : letters;
}

LetterGrid::LetterGrid(QWidget* parent) : QTableWidget(kRows, kColumns, parent) {
  static const bool listRole = (QAccessible::installFactory(&AccessibleLettersOf), true);
  (void)listRole;
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

void LetterGrid::AnnouncePick(const QString& searchString) {
  const QModelIndex at = currentIndex();
  if (!at.isValid()) return;
  pickedCell_ = at;
  searchString_ = searchString;
  QAccessibleEvent named(this, QAccessible::NameChanged);
  named.setChild(at.row() * kColumns + at.column());
  QAccessible::updateAccessibility(&named);
}

QString LetterGrid::AccessibleName(int row, int column) const {
  const QTableWidgetItem* cell = item(row, column);
  if (!cell) return {};
  if (pickedCell_ != model()->index(row, column)) return cell->text();
  return cell->text() + QStringLiteral(", search string ") + searchString_;
}

// The table's own accessibility events number the cells as a table's, with
// its hidden headers among them: the list's events are sent here instead,
// past the table to the view it is built on.
void LetterGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  pickedCell_ = QPersistentModelIndex();
  QAbstractItemView::currentChanged(current, previous);
  if (hasFocus()) TellFocused(current);
}

void LetterGrid::selectionChanged(const QItemSelection& selected,
                                  const QItemSelection& deselected) {
  QAbstractItemView::selectionChanged(selected, deselected);
}

void LetterGrid::focusInEvent(QFocusEvent* event) {
  QTableWidget::focusInEvent(event);
  // After the list itself, which the focus change announces next.
  QMetaObject::invokeMethod(
      this, [this] { TellFocused(currentIndex()); }, Qt::QueuedConnection);
}

void LetterGrid::TellFocused(const QModelIndex& cell) {
  if (!QAccessible::isActive() || !hasFocus() || !cell.isValid()) return;
  QAccessibleEvent focus(this, QAccessible::Focus);
  focus.setChild(cell.row() * kColumns + cell.column());
  QAccessible::updateAccessibility(&focus);
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
