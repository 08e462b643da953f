#include "searchedit/tform2.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <algorithm>

#include "platform/codepage.h"
#include "platform/guard.h"
#include "platform/ioerror.h"
#include "platform/messagedialog.h"
#include "platform/text.h"
#include "platform/widgets.h"
#include "searchedit/cannotedit.h"
#include "searchedit/search.h"
#include "store/datafile.h"
#include "store/sort.h"
#include "store/startup.h"

namespace velmora {
namespace {

// The result grid moves only by the mouse and the navigation keys: a typed
// letter jumping to a row that begins with it would leave EDIT and a right
// click acting on an entry the user did not choose.
class ResultGrid final : public QTableView {
 public:
  using QTableView::QTableView;
  void keyboardSearch(const QString&) override {}
};

constexpr char kAddTitle[] = "Add new record";
constexpr char kEditTitle[] = "Edit record";
constexpr int kColumnWidths[ResultModel::kColumns] = {85, 87, 88, 90, 170};
constexpr int kRowHeight = 24;
constexpr int kTitleRoom = 8;

// A field's text in the code page; a character outside it becomes "?".
std::string Bytes(const QLineEdit* edit) { return ToCp1252(edit->text()); }

QLineEdit* PlaceEdit(QWidget* parent, const char* name, QLabel* label, int x, int y, int w) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setGeometry(x, y, w, 21);
  // Screen readers name the field after the label beside it.
  label->setBuddy(e);
  return e;
}

}  // namespace

TForm2::TForm2(Session& session, MainWindowLink& mainWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), main_(mainWindow) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("VELMORA SEARCH/EDIT"));
  setFont(WindowFont());
  move(27, 102);
  resize(kDesignWidth, 298);
  BuildControls();
  BuildRecordGroup();
  BuildExtraTextControls();
}

void TForm2::BuildControls() {
  StringGrid1 = new ResultGrid(this);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setAccessibleName(QStringLiteral("Search results"));
  StringGrid1->setGeometry(24, 16, 537, 169);
  StringGrid1->setModel(&model_);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setTabKeyNavigation(false);
  StringGrid1->setWordWrap(false);
  StringGrid1->setCornerButtonEnabled(false);
  StringGrid1->setShowGrid(true);
  // Every row is the same height and never measured, which keeps a grid of
  // a million rows as quick as one of ten.
  QHeaderView* rows = StringGrid1->verticalHeader();
  rows->hide();
  rows->setMinimumSectionSize(1);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(kRowHeight);
  QHeaderView* columns = StringGrid1->horizontalHeader();
  columns->setMinimumSectionSize(1);
  columns->setSectionResizeMode(QHeaderView::Fixed);
  columns->setSectionsClickable(false);
  columns->setHighlightSections(false);
  columns->setFixedHeight(kRowHeight);
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int c = 0; c < ResultModel::kColumns; ++c) columns->resizeSection(c, kColumnWidths[c]);
  StringGrid1->viewport()->installEventFilter(this);
  // A double-click on the header acts on the current row as well.
  columns->viewport()->installEventFilter(this);

  // The hint ends where the grid ends when the platform's font is wider than
  // the designed one.
  Label1 = PlaceLabel(this, "Label1", QStringLiteral("For extra info, double_click on selection"),
                      368, 192, 187, 13);
  Label1->move(std::min(368, 561 - Label1->width()), 192);
  Label4 = PlaceLabel(this, "Label4", QStringLiteral("Label4"), 384, 208, 89, 17);
  Label5 = PlaceLabel(this, "Label5", QStringLiteral("Label5"), 384, 232, 97, 17);

  Button3 = PlaceButton(this, "Button3", QStringLiteral("EDIT"), 24, 192, 49, 25);
  Button1 = PlaceButton(this, "Button1", QStringLiteral("PRINT"), 104, 192, 57, 25);
  Button1->hide();
  Button8 = PlaceButton(this, "Button8", QStringLiteral("BACK"), 216, 192, 49, 25);

  connect(Button3, &QPushButton::clicked, this, GuardedSlot([this] { Button3Click(); }));
  connect(Button8, &QPushButton::clicked, this, GuardedSlot([this] { Button8Click(); }));
  connect(Button1, &QPushButton::clicked, this, GuardedSlot([this] { Button1Click(); }));
}

void TForm2::BuildRecordGroup() {
  GroupBox1 = new QGroupBox(QStringLiteral("EDIT RECORD"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  // The platform draws the title above the frame rather than in its top
  // line: the group starts higher by kTitleRoom and its contents lower, so
  // that the frame ends where it was designed to and the first field clears
  // the title.
  GroupBox1->setGeometry(16, 16 - kTitleRoom, 321, 217 + kTitleRoom);
  GroupBox1->hide();

  // Labels end before the fields at x = 104 whatever the font's width.
  auto label = [&](const char* name, const char* caption, int y, int w, int h) {
    QLabel* l = PlaceLabel(GroupBox1, name, QString::fromLatin1(caption), 40, y, w, h);
    l->move(std::min(40, 100 - l->width()), y);
    return l;
  };
  Label2 = label("Label2", "NAME", 20, 31, 17);
  Label3 = label("Label3", "SURNAME", 52, 54, 17);
  PHONE1 = label("PHONE1", "PHONE1", 84, 44, 17);
  PHONE2 = label("PHONE2", "PHONE2", 116, 44, 17);
  COMMENTS = label("COMMENTS", "COMMENTS", 148, 62, 17);

  Edit1 = PlaceEdit(GroupBox1, "Edit1", Label2, 104, 16, 137);
  Edit2 = PlaceEdit(GroupBox1, "Edit2", Label3, 104, 48, 137);
  Edit3 = PlaceEdit(GroupBox1, "Edit3", PHONE1, 104, 80, 137);
  Edit4 = PlaceEdit(GroupBox1, "Edit4", PHONE2, 104, 112, 137);
  Edit5 = PlaceEdit(GroupBox1, "Edit5", COMMENTS, 104, 144, 193);

  Button5 = PlaceButton(GroupBox1, "Button5", QStringLiteral("ADD/EDIT EXTRA TEXT"), 8, 184, 137, 25);
  Button4 = PlaceButton(GroupBox1, "Button4", QStringLiteral("DONE"), 152, 184, 65, 25);
  Button9 = PlaceButton(GroupBox1, "Button9", QStringLiteral("CANCEL"), 248, 184, 49, 25);

  for (QWidget* w : GroupBox1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    w->move(w->x(), w->y() + kTitleRoom);

  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Edit3);
  setTabOrder(Edit3, Edit4);
  setTabOrder(Edit4, Edit5);
  setTabOrder(Edit5, Button4);
  setTabOrder(Button4, Button5);
  setTabOrder(Button5, Button9);

  connect(Button4, &QPushButton::clicked, this, GuardedSlot([this] { Button4Click(); }));
  connect(Button9, &QPushButton::clicked, this, GuardedSlot([this] { Button9Click(); }));
  connect(Button5, &QPushButton::clicked, this, GuardedSlot([this] { Button5Click(); }));
}

// ---- The grid ----

void TForm2::RunSearch(int row) {
  const std::string key = SearchKey(main_.SearchFieldText());
  const auto field = main_.SearchByName() ? ContactRecord::kName : ContactRecord::kSurname;
  {
    ResultModel::Fill fill(model_);
    ReadWorkingFile(
        session_, [&](uint64_t count) { SetCaption(Label4, QString::number(count), 89); },
        [&](RecordView rec) {
          if (Matches(rec.Text(field), key)) fill.Add(rec.bytes());
        });
  }
  SetCurrentRow(row);
  SetCaption(Label5, QString::number(model_.rowCount()), 97);
}

void TForm2::RemoveGridRow(int row) {
  const int rows = model_.rowCount();
  if (rows < 2 || row < 1 || row > rows) return;
  model_.removeRow(row - 1);
  SetCurrentRow(row <= model_.rowCount() ? row : row - 1);
}

void TForm2::SetCurrentRow(int row) {
  const int rows = model_.rowCount();
  if (rows == 0) return;
  // Asked for a row beyond the last (an edit that removed duplicates leaves
  // fewer rows), the last one is the nearest that exists.
  row = std::clamp(row, 1, rows);
  const QModelIndex at = model_.index(row - 1, 0);
  StringGrid1->selectionModel()->setCurrentIndex(
      at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  StringGrid1->scrollTo(at);
}

int TForm2::CurrentRow() const {
  const QModelIndex at = StringGrid1->selectionModel()->currentIndex();
  return at.isValid() ? at.row() + 1 : 0;
}

void TForm2::HideResultControls() {
  for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(StringGrid1),
                     static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button3),
                     static_cast<QWidget*>(Button8)})
    w->hide();
}

void TForm2::ShowResultControls() {
  Label1->show();
  ShowGridAndButtons();
}

void TForm2::ShowGridAndButtons() {
  StringGrid1->show();
  Button1->show();
  Button3->show();
  Button8->show();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == StringGrid1->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(event);
    if (me->button() == Qt::RightButton) {
      const QPoint pos = me->position().toPoint();
      Guarded([&] { StringGrid1MouseDown(pos); });
      return true;
    }
  }
  if (event->type() == QEvent::MouseButtonDblClick &&
      (watched == StringGrid1->viewport() ||
       watched == StringGrid1->horizontalHeader()->viewport()) &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Guarded([this] { StringGrid1DblClick(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm2::StringGrid1MouseDown(const QPoint& pos) {
  const int at = StringGrid1->rowAt(pos.y());
  if (at < 0 || StringGrid1->columnAt(pos.x()) < 0) return;
  // A lone data row, an entry or the message row, is never deleted here.
  if (GridRowCount() <= 2) return;
  const int row = at + 1;
  SetCurrentRow(row);

  const QString question = QStringLiteral("You are about to delete the entry for ") +
                           FromCp1252(model_.Cell(at, ContactRecord::kName)) + QLatin1Char(' ') +
                           FromCp1252(model_.Cell(at, ContactRecord::kSurname));
  if (MessageDlg(question, MsgKind::Warning, MsgButtons::OKCancel) != MsgResult::OK) return;

  ContactRecord& removed = session_.RemovedRecord;
  removed.SetTexts(model_.Texts(at));
  {
    // No other instance may add the entry's namesake between the two steps.
    StoreLock lock(session_);
    RewriteWithout(session_, false);
    std::string owner(removed.Text(ContactRecord::kName));
    owner += removed.Text(ContactRecord::kSurname);
    RemoveOrphanText(session_, UpperCase(Trim(owner)));
  }
  RemoveGridRow(row);
}

// ---- The window ----

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Only a show counts as activation: focus coming back from one of this
  // window's own message boxes must not run the search again and lose the
  // current row.
  if (event->spontaneous()) return;
  // The search runs as the window is shown, so the grid is filled before it
  // is first painted. A failure is reported once the show has been
  // processed, so that the box stands over this window and its grid rather
  // than alone on the screen with the main window already hidden.
  try {
    FormActivate();
  } catch (const std::exception& e) {
    QMetaObject::invokeMethod(
        this, [text = std::string(e.what())] { ShowStandardError(AppError(text)); },
        Qt::QueuedConnection);
  }
}

void TForm2::FormActivate() {
  main_.HideMainWindow();
  RunSearch(1);
}

void TForm2::closeEvent(QCloseEvent* event) {
  Guarded([this] { FormClose(); });
  event->accept();
}

void TForm2::FormClose() {
  SetWidth(kDesignWidth);
  HideExtraTextControls();
  // Put the record group back as CANCEL would: a later NEW RECORD then
  // offers all five fields even when the window was closed in edit mode.
  LeaveRecordGroup();
  main_.ShowMainWindow();
}

void TForm2::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange &&
      (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
    // Not from inside the state change itself: the platform is still busy
    // with it.
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { FormResize(); }); }, Qt::QueuedConnection);
  }
}

void TForm2::FormResize() {
  setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
}

void TForm2::SetWidth(int width) { resize(width, height()); }

void TForm2::Button8Click() {
  GroupBox1->hide();
  close();
}

// ---- The record group ----

bool TForm2::InAddMode() const { return GroupBox1->title() == QLatin1String(kAddTitle); }

void TForm2::EnterAddMode() {
  GroupBox1->show();
  GroupBox1->setTitle(QString::fromLatin1(kAddTitle));
  HideResultControls();
  Button5->hide();
  SetWidth(kNarrowWidth);
}

void TForm2::ClearRecordFields() {
  for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4, Edit5}) e->clear();
}

void TForm2::LeaveRecordGroup() {
  Edit1->show();
  Edit2->show();
  Label2->show();
  SetCaption(Label3, QStringLiteral("SURNAME"), 54);
  Label3->move(std::min(40, 100 - Label3->width()), Label3->y());
  GroupBox1->hide();
}

void TForm2::Button3Click() {
  if (IsSampleFile(session_)) {
    ShowCannotEdit();
    return;
  }
  const int row = CurrentRow();
  if (row == 0) return;
  Edit1->setText(FromCp1252(model_.Cell(row - 1, ContactRecord::kName)));
  Edit2->setText(FromCp1252(model_.Cell(row - 1, ContactRecord::kSurname)));
  if (Trim(Bytes(Edit1)).empty() || Trim(Bytes(Edit2)).empty()) return;

  SetWidth(kNarrowWidth);
  Button5->show();
  Edit1->hide();
  Edit2->hide();
  Label2->hide();
  GroupBox1->setTitle(QString::fromLatin1(kEditTitle));
  GroupBox1->show();
  HideResultControls();
  Edit3->setText(FromCp1252(model_.Cell(row - 1, ContactRecord::kPhone1)));
  Edit4->setText(FromCp1252(model_.Cell(row - 1, ContactRecord::kPhone2)));
  Edit5->setText(FromCp1252(model_.Cell(row - 1, ContactRecord::kComments)));
  // The line has the whole group's width to itself while the surname field
  // is hidden.
  SetCaption(Label3, QStringLiteral("Edit details for ") + Edit1->text() + QLatin1Char(' ') +
                         Edit2->text() + QLatin1Char('.'));
  Label3->move(8, Label3->y());
  Label3->resize(std::min(Label3->width(), GroupBox1->width() - 16), Label3->height());
  Edit3->setFocus();
}

void TForm2::Button4Click() {
  if (Trim(Bytes(Edit1)).empty() || Trim(Bytes(Edit2)).empty()) {
    MessageDlg(QStringLiteral("Name and surname fields are mandatory."), MsgKind::Information,
               MsgButtons::OK);
    return;
  }
  const bool addMode = InAddMode();
  SetWidth(kDesignWidth);
  ShowResultControls();
  const int noted = CurrentRow();
  LeaveRecordGroup();

  if (addMode) {
    // Stored as typed: only cut to the field widths.
    session_.NewRecord.SetTexts({Bytes(Edit1), Bytes(Edit2), Bytes(Edit3), Bytes(Edit4), Bytes(Edit5)});
    InsertRecord(session_);
    RunSearch(1);
    hide();
    main_.ShowMainWindow();
    return;
  }

  if (noted == 0) return;
  session_.RemovedRecord.SetTexts(model_.Texts(noted - 1));
  const RecordTexts edited{Trim(Bytes(Edit1)), Trim(Bytes(Edit2)), Trim(Bytes(Edit3)),
                           Trim(Bytes(Edit4)), Trim(Bytes(Edit5))};
  session_.NewRecord.SetTexts(edited);
  auto details = [](const ContactRecord& r) {
    return std::string(r.Text(ContactRecord::kPhone1)) +
           std::string(r.Text(ContactRecord::kPhone2)) +
           std::string(r.Text(ContactRecord::kComments));
  };
  if (details(session_.NewRecord) == details(session_.RemovedRecord)) return;

  ReplaceRecord(session_);
  // The row shows the new texts only once the file holds them: a failed
  // change must not leave the grid showing an entry the file lacks.
  model_.SetTexts(noted - 1, session_.NewRecord.Texts());
  RunSearch(noted);
}

void TForm2::Button9Click() {
  const bool addMode = InAddMode();
  SetWidth(kDesignWidth);
  ShowResultControls();
  LeaveRecordGroup();
  if (addMode) {
    hide();
    main_.ShowMainWindow();
  }
}

}  // namespace velmora
