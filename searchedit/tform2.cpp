#include "searchedit/tform2.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <algorithm>
#include <exception>

#include "platform/codepage.h"
#include "platform/guard.h"
#include "platform/ioerror.h"
#include "platform/messagedialog.h"
#include "platform/text.h"
#include "platform/widgets.h"
#include "searchedit/accesskeys.h"
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

// A field's text in the code page; a character outside it becomes "?".
std::string Bytes(const QLineEdit* edit) { return ToCodePage(edit->text()); }

// The record group's titles, by which the user tells the modes apart.
constexpr char kDesignTitle[] = "EDIT RECORD";  // replaced before the group first shows
constexpr char kAddTitle[] = "Add new record";
constexpr char kEditTitle[] = "Edit record";

// DONE and delete act on the entry as the grid showed it; when the file no
// longer holds it, writing would double it or miss it.
constexpr char kChangedMeanwhile[] =
    "This entry was changed meanwhile, by another window or a sync. The search is made again.";

// Before DONE stores a character the code page lacks as "?", the user may go
// back and change it: a name stored as "??" is found by every "?" and shares
// its extra text with every other such name.
bool StoreLackingAsQuestionMarks(std::initializer_list<std::pair<const char*, QString>> fields) {
  QString lines;
  for (const auto& [label, text] : fields) {
    const QString lacking = TextCodePage().Lacking(text);
    if (lacking.isEmpty()) continue;
    QStringList shown;
    for (uint ch : lacking.toUcs4())
      shown << QString::fromUcs4(reinterpret_cast<char32_t*>(&ch), 1);
    lines += QString::fromLatin1(label) + QStringLiteral(": ") + shown.join(QLatin1Char(' ')) +
             QLatin1Char('\n');
  }
  if (lines.isEmpty()) return true;
  return MessageDlg(QStringLiteral("Code page ") + QString::number(TextCodePage().number()) +
                        QStringLiteral(" cannot store some characters; DONE would store each "
                                       "as \"?\":\n") +
                        lines + QStringLiteral("Store them as \"?\"? No goes back to the entry."),
                    MsgKind::Confirmation, MsgButtons::YesNo) == MsgResult::Yes;
}

// Assistive technology meets this window as a window, named by its title,
// not as a nameless part of the screen.
QAccessibleInterface* AccessibleWindow(const QString& className, QObject* object) {
  if (className != QLatin1String(TForm2::staticMetaObject.className())) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

}  // namespace

QLineEdit* TForm2::EditAt(QWidget* parent, const char* name, QLabel* label, Place at) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  SetPlace(e, at);
  // Screen readers name the field after the label beside it.
  label->setBuddy(e);
  return e;
}

void TForm2::EndBeforeField(QLabel* label, Place designed, const QWidget* field) {
  label->move(std::min(designed.x, field->x() - kLabelGap - label->width()), label->y());
}

TForm2::TForm2(Session& session, MainWindowLink& mainWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), main_(mainWindow) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("VELMORA SEARCH/EDIT"));
  setFont(WindowFont());
  move(kForm2.x, kForm2.y);
  resize(kForm2.w, kForm2.h);
  BuildControls();
  BuildRecordGroup();
  BuildExtraTextControls();
  // Enter presses the focused button, as Space does.
  for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(true);
  static const bool windowRole = (QAccessible::installFactory(&AccessibleWindow), true);
  (void)windowRole;
}

void TForm2::BuildControls() {
  StringGrid1 = new ResultGrid(this);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setAccessibleName(QStringLiteral("Search results"));
  SetPlace(StringGrid1, kStringGrid1);
  StringGrid1->setModel(&model_);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setTabKeyNavigation(false);
  StringGrid1->setWordWrap(false);
  StringGrid1->setCornerButtonEnabled(false);
  StringGrid1->setShowGrid(true);
  ShowFocusBySelection(StringGrid1);
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
  StringGrid1->installEventFilter(this);
  // A double-click on the header acts on the current row as well.
  columns->viewport()->installEventFilter(this);

  // The hint ends where the grid ends when the platform's font is wider than
  // the designed one. "double_click" is spelled so on purpose.
  Label1 = PlaceLabel(this, "Label1", QStringLiteral("For extra info, double_click on selection"),
                      kLabel1);
  Label1->move(std::min(kLabel1.x, EndX(StringGrid1) - Label1->width()), kLabel1.y);
  Label4 = PlaceLabel(this, "Label4", QStringLiteral("Label4"), kLabel4);
  Label5 = PlaceLabel(this, "Label5", QStringLiteral("Label5"), kLabel5);

  Button3 = PlaceButton(this, "Button3", QStringLiteral("EDIT"), kButton3);
  Button1 = PlaceButton(this, "Button1", QStringLiteral("PRINT"), kButton1);
  Button1->hide();
  Button8 = PlaceButton(this, "Button8", QStringLiteral("BACK"), kButton8);
  SetAccessKey(Button3, QStringLiteral("EDIT"), u'E');
  SetAccessKey(Button1, QStringLiteral("PRINT"), u'P');
  SetAccessKey(Button8, QStringLiteral("BACK"), u'B');

  connect(Button3, &QPushButton::clicked, this, GuardedSlot([this] { Button3Click(); }));
  connect(Button8, &QPushButton::clicked, this, GuardedSlot([this] { Button8Click(); }));
  connect(Button1, &QPushButton::clicked, this, GuardedSlot([this] { Button1Click(); }));
}

void TForm2::BuildRecordGroup() {
  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  SetRecordMode(RecordMode::kDesign);
  SetGroupPlace(GroupBox1, kGroupBox1);
  GroupBox1->hide();

  Label2 = PlaceLabel(GroupBox1, "Label2", QStringLiteral("NAME"), kLabel2);
  Label3 = PlaceLabel(GroupBox1, "Label3", QStringLiteral("SURNAME"), kLabel3);
  PHONE1 = PlaceLabel(GroupBox1, "PHONE1", QStringLiteral("PHONE1"), kPHONE1);
  PHONE2 = PlaceLabel(GroupBox1, "PHONE2", QStringLiteral("PHONE2"), kPHONE2);
  COMMENTS = PlaceLabel(GroupBox1, "COMMENTS", QStringLiteral("COMMENTS"), kCOMMENTS);

  Edit1 = EditAt(GroupBox1, "Edit1", Label2, kEdit1);
  Edit2 = EditAt(GroupBox1, "Edit2", Label3, kEdit2);
  Edit3 = EditAt(GroupBox1, "Edit3", PHONE1, kEdit3);
  Edit4 = EditAt(GroupBox1, "Edit4", PHONE2, kEdit4);
  Edit5 = EditAt(GroupBox1, "Edit5", COMMENTS, kEdit5);

  EndBeforeField(Label2, kLabel2, Edit1);
  EndBeforeField(Label3, kLabel3, Edit2);
  EndBeforeField(PHONE1, kPHONE1, Edit3);
  EndBeforeField(PHONE2, kPHONE2, Edit4);
  EndBeforeField(COMMENTS, kCOMMENTS, Edit5);

  Button5 = PlaceButton(GroupBox1, "Button5", QStringLiteral("ADD/EDIT EXTRA TEXT"), kButton5);
  Button4 = PlaceButton(GroupBox1, "Button4", QStringLiteral("DONE"), kButton4);
  Button9 = PlaceButton(GroupBox1, "Button9", QStringLiteral("CANCEL"), kButton9);
  // Each key once in the group and once in the extra-text editor, which
  // replaces it; Label3 gets its key from ShowSurnameLabel.
  SetAccessKey(Label2, QStringLiteral("NAME"), u'N');
  SetAccessKey(PHONE1, QStringLiteral("PHONE1"), u'1');
  SetAccessKey(PHONE2, QStringLiteral("PHONE2"), u'2');
  SetAccessKey(COMMENTS, QStringLiteral("COMMENTS"), u'O');
  SetAccessKey(Button5, QStringLiteral("ADD/EDIT EXTRA TEXT"), u'X');
  SetAccessKey(Button4, QStringLiteral("DONE"), u'D');
  SetAccessKey(Button9, QStringLiteral("CANCEL"), u'C');

  MakeTitleRoom(GroupBox1);

  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Edit3);
  setTabOrder(Edit3, Edit4);
  setTabOrder(Edit4, Edit5);
  setTabOrder(Edit5, Button5);
  setTabOrder(Button5, Button4);
  setTabOrder(Button4, Button9);

  connect(Button4, &QPushButton::clicked, this, GuardedSlot([this] { Button4Click(); }));
  // Enter in a field is DONE.
  for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4, Edit5})
    connect(e, &QLineEdit::returnPressed, this, GuardedSlot([this] { Button4Click(); }));
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
        session_, [&](uint64_t count) { SetCaption(Label4, QString::number(count), kLabel4.w); },
        [&](RecordView rec) {
          if (Matches(rec.Text(field), key)) fill.Add(rec.bytes());
        });
  }
  SetCurrentRow(row);
  SetCaption(Label5, QString::number(model_.rowCount()), kLabel5.w);
}

void TForm2::RemoveGridRow(int row) {
  const int rows = model_.rowCount();
  if (row < 1 || row > rows || model_.IsMessageRow(ModelRow(row))) return;
  // The last entry gone, the message row stands in, as after a search that
  // found nothing.
  if (rows == 1) {
    ResultModel::Fill nothing(model_);
  } else {
    model_.removeRow(ModelRow(row));
  }
  // The row that moved into its place; the new last row when it was the last.
  SetCurrentRow(std::min(row, model_.rowCount()));
}

void TForm2::SetCurrentRow(int row) {
  const int rows = model_.rowCount();
  if (rows == 0) return;
  // Asked for a row beyond the last (an edit that removed duplicates leaves
  // fewer rows), the last one is the nearest that exists.
  row = std::clamp(row, 1, rows);
  const QModelIndex at = model_.index(ModelRow(row), 0);
  StringGrid1->selectionModel()->setCurrentIndex(
      at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  StringGrid1->scrollTo(at);
}

void TForm2::AnnounceCurrentRow() {
  // The grid's focus alone tells its size; the current row is what the user
  // acts on. The view tells it only when it changes under the focus.
  const QModelIndex at = StringGrid1->currentIndex();
  if (!QAccessible::isActive() || !StringGrid1->hasFocus() || !at.isValid()) return;
  QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(StringGrid1);
  QAccessibleTableInterface* table = grid ? grid->tableInterface() : nullptr;
  QAccessibleInterface* cell = table ? table->cellAt(at.row(), at.column()) : nullptr;
  if (!cell) return;
  QAccessibleEvent focus(cell, QAccessible::Focus);
  QAccessible::updateAccessibility(&focus);
}

int TForm2::CurrentRow() const {
  const QModelIndex at = StringGrid1->selectionModel()->currentIndex();
  return at.isValid() ? GridRow(at.row()) : 0;
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
  // The keys act on the current row from the moment the rows are back.
  StringGrid1->setFocus();
}

bool TForm2::GridKey(const QKeyEvent& key) {
  const bool shift = key.modifiers() & Qt::ShiftModifier;
  switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: StringGrid1DblClick(); return true;
    case Qt::Key_Delete:
    case Qt::Key_Menu: DeleteRow(CurrentRow()); return true;
    case Qt::Key_F10:
      if (!shift) return false;
      DeleteRow(CurrentRow());
      return true;
    case Qt::Key_Escape: Button8Click(); return true;
    default: return false;
  }
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  // Escape leaves what is in front, as its last button does.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (GroupBox1->isVisible()) return Guarded([this] { Button9Click(); });
    if (Button2->isVisible()) return Guarded([this] { Button2Click(); });
    if (StringGrid1->isVisible()) return Guarded([this] { Button8Click(); });
  }
  QWidget::keyPressEvent(event);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  // Told after the grid itself, once the focus has settled.
  if (watched == StringGrid1 && event->type() == QEvent::FocusIn)
    QMetaObject::invokeMethod(this, &TForm2::AnnounceCurrentRow, Qt::QueuedConnection);
  if (watched == StringGrid1 && event->type() == QEvent::KeyPress) {
    bool handled = false;
    Guarded([&] { handled = GridKey(*static_cast<QKeyEvent*>(event)); });
    if (handled) return true;
  }
  // The menu key asks through the key press above; some platforms send a
  // context menu request as well, which must not ask a second time.
  if (watched == StringGrid1 && event->type() == QEvent::ContextMenu) return true;
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

void TForm2::StringGrid1MouseDown(const QPoint& pos) { DeleteEntryAt(pos); }

void TForm2::DeleteEntryAt(const QPoint& pos) {
  const int at = StringGrid1->rowAt(pos.y());  // the model's row, or -1
  if (at < 0 || StringGrid1->columnAt(pos.x()) < 0) return;
  DeleteRow(GridRow(at));
}

void TForm2::DeleteRow(int row) {
  // The message row stands for no entry; a lone entry is the user's to delete.
  if (row < 1 || row > model_.rowCount() || model_.IsMessageRow(ModelRow(row))) return;
  const int at = ModelRow(row);
  SetCurrentRow(row);

  const QString question = QStringLiteral("You are about to delete the entry for ") +
                           FromCodePage(model_.Cell(at, ContactRecord::kName)) + QLatin1Char(' ') +
                           FromCodePage(model_.Cell(at, ContactRecord::kSurname));
  if (MessageDlg(question, MsgKind::Warning, MsgButtons::OKCancel) != MsgResult::OK) return;

  ContactRecord& removed = session_.RemovedRecord;
  removed.SetTexts(model_.Texts(at));
  bool gone = false;
  {
    // No other instance may add the entry's namesake between the two steps.
    StoreLock lock(session_);
    gone = RewriteWithout(session_, false);
    if (gone) {
      std::string owner(removed.Text(ContactRecord::kName));
      owner += removed.Text(ContactRecord::kSurname);
      RemoveOrphanText(session_, UpperCaseText(Trim(owner)));
    }
  }
  // The box waits for the user outside the lock.
  if (gone) {
    RemoveGridRow(row);
    main_.EntriesChanged();
  } else {
    SearchAgainAfterAChange(row);
  }
}

void TForm2::SearchAgainAfterSync() {
  if (!isVisible() || !StringGrid1->isVisible()) return;
  RunSearch(std::max(CurrentRow(), 1));
}

void TForm2::SearchAgainAfterAChange(int row) {
  MessageDlg(QString::fromLatin1(kChangedMeanwhile), MsgKind::Warning, MsgButtons::OK);
  RunSearch(row);
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
  } catch (...) {
    QMetaObject::invokeMethod(
        this,
        [error = std::current_exception()] { Guarded([&] { std::rethrow_exception(error); }); },
        Qt::QueuedConnection);
  }
}

void TForm2::FormActivate() {
  // Over the main window's place, before the window manager maps it; by the
  // inside, as a window's frame is not known before its first show.
  if (const std::optional<QPoint> place = main_.MainWindowPlace())
    setGeometry(QRect(*place, size()));
  // The keyboard comes along from the hidden main window, once the rows are
  // there: a screen reader then hears the grid and its current row once.
  auto takeOver = [this] {
    main_.HideMainWindow();
    activateWindow();
  };
  try {
    RunSearch(1);
  } catch (...) {
    takeOver();
    throw;
  }
  takeOver();
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

void TForm2::SetRecordMode(RecordMode mode) {
  recordMode_ = mode;
  switch (mode) {
    case RecordMode::kDesign: GroupBox1->setTitle(QString::fromLatin1(kDesignTitle)); return;
    case RecordMode::kAdd: GroupBox1->setTitle(QString::fromLatin1(kAddTitle)); break;
    case RecordMode::kEdit:
    case RecordMode::kEditUnnamed: GroupBox1->setTitle(QString::fromLatin1(kEditTitle)); break;
  }
  // An edited entry keeps its name: the fields stay hidden, holding it for
  // DONE and for the extra text's file name. Only a name with a part
  // missing is typed in, and the entry is stored under it.
  const bool naming = mode != RecordMode::kEdit;
  Edit1->setVisible(naming);
  Edit2->setVisible(naming);
  Label2->setVisible(naming);
  // Extra text belongs to an entry already stored under its whole name.
  Button5->setVisible(!naming);
  if (naming) {
    ShowSurnameLabel();
    return;
  }
  // The line has the whole group's width to itself while the surname field
  // is hidden.
  const QString details = QStringLiteral("Edit details for ") + Edit1->text() + QLatin1Char(' ') +
                          Edit2->text() + QLatin1Char('.');
  SetCaption(Label3, details);
  // The label names the hidden surname field: a "&" in the name would be
  // taken for an access key.
  Label3->setText(QString(details).replace(QLatin1Char('&'), QStringLiteral("&&")));
  Label3->move(kGroupMargin, Label3->y());
  Label3->resize(std::min(Label3->width(), GroupBox1->width() - 2 * kGroupMargin),
                 Label3->height());
}

void TForm2::ShowSurnameLabel() {
  SetCaption(Label3, QStringLiteral("SURNAME"), kLabel3.w);
  SetAccessKey(Label3, QStringLiteral("SURNAME"), u'S');
  EndBeforeField(Label3, kLabel3, Edit2);
}

void TForm2::EnterAddMode() {
  GroupBox1->show();
  SetRecordMode(RecordMode::kAdd);
  Edit1->setFocus();
  HideResultControls();
  SetWidth(kNarrowWidth);
}

void TForm2::ClearRecordFields() {
  for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4, Edit5}) e->clear();
}

void TForm2::LeaveRecordGroup() {
  Edit1->show();
  Edit2->show();
  Label2->show();
  ShowSurnameLabel();
  GroupBox1->hide();
}

void TForm2::Button3Click() { EditCurrentRow(); }

void TForm2::EditCurrentRow() {
  if (IsSampleFile(session_)) {
    ShowCannotEdit();
    return;
  }
  const int row = CurrentRow();
  if (row == 0 || model_.IsMessageRow(ModelRow(row))) return;
  const int at = ModelRow(row);
  Edit1->setText(FromCodePage(model_.Cell(at, ContactRecord::kName)));
  Edit2->setText(FromCodePage(model_.Cell(at, ContactRecord::kSurname)));
  const bool nameBlank = Trim(Bytes(Edit1)).empty();
  const bool named = !nameBlank && !Trim(Bytes(Edit2)).empty();

  SetWidth(kNarrowWidth);
  SetRecordMode(named ? RecordMode::kEdit : RecordMode::kEditUnnamed);
  GroupBox1->show();
  // The focus goes straight to the field: hiding the grid first would pass
  // it through the hidden buttons, and a screen reader would follow them.
  (named ? Edit3 : nameBlank ? Edit1 : Edit2)->setFocus();
  // Filled after the focus moved: a reader that meets the fields' caret
  // events first takes them for the focus, and then says nothing of it.
  Edit3->setText(FromCodePage(model_.Cell(at, ContactRecord::kPhone1)));
  Edit4->setText(FromCodePage(model_.Cell(at, ContactRecord::kPhone2)));
  Edit5->setText(FromCodePage(model_.Cell(at, ContactRecord::kComments)));
  HideResultControls();
}

void TForm2::Button4Click() { SaveRecord(); }

void TForm2::SaveRecord() {
  if (Trim(Bytes(Edit1)).empty() || Trim(Bytes(Edit2)).empty()) {
    MessageDlg(QStringLiteral("Name and surname fields are mandatory."), MsgKind::Information,
               MsgButtons::OK);
    return;
  }
  if (!StoreLackingAsQuestionMarks({{"NAME", Edit1->text()},
                                    {"SURNAME", Edit2->text()},
                                    {"PHONE1", Edit3->text()},
                                    {"PHONE2", Edit4->text()},
                                    {"COMMENTS", Edit5->text()}}))
    return;
  const RecordMode mode = recordMode_;
  const bool adding = mode == RecordMode::kAdd;
  SetWidth(kDesignWidth);
  ShowResultControls();
  const int noted = CurrentRow();
  LeaveRecordGroup();

  if (adding) {
    // Stored as typed: only cut to the field widths.
    session_.NewRecord.SetTexts(
        {Bytes(Edit1), Bytes(Edit2), Bytes(Edit3), Bytes(Edit4), Bytes(Edit5)});
    InsertRecord(session_);
    main_.EntriesChanged();
    RunSearch(1);
    hide();
    main_.ShowMainWindow();
    return;
  }

  if (noted == 0) return;
  session_.RemovedRecord.SetTexts(model_.Texts(ModelRow(noted)));
  const RecordTexts edited{Trim(Bytes(Edit1)), Trim(Bytes(Edit2)), Trim(Bytes(Edit3)),
                           Trim(Bytes(Edit4)), Trim(Bytes(Edit5))};
  session_.NewRecord.SetTexts(edited);
  auto details = [](const ContactRecord& r) {
    return std::string(r.Text(ContactRecord::kPhone1)) +
           std::string(r.Text(ContactRecord::kPhone2)) +
           std::string(r.Text(ContactRecord::kComments));
  };
  // An entry that was given its missing name has changed whatever else did.
  if (mode == RecordMode::kEdit && details(session_.NewRecord) == details(session_.RemovedRecord))
    return;

  if (!ReplaceRecord(session_)) {
    SearchAgainAfterAChange(noted);
    return;
  }
  main_.EntriesChanged();
  // The row shows the new texts only once the file holds them: a failed
  // change must not leave the grid showing an entry the file lacks.
  model_.SetTexts(ModelRow(noted), session_.NewRecord.Texts());
  RunSearch(noted);
}

void TForm2::Button9Click() { CancelRecord(); }

void TForm2::CancelRecord() {
  const bool adding = InAddMode();
  SetWidth(kDesignWidth);
  ShowResultControls();
  LeaveRecordGroup();
  if (adding) {
    hide();
    main_.ShowMainWindow();
  }
}

}  // namespace velmora
