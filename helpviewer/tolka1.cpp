#include "helpviewer/tolka1.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "platform/guard.h"
#include "platform/widgets.h"

namespace tolka {
namespace {

using velmora::MakeTitleRoom;
using velmora::Place;
using velmora::PlaceButton;
using velmora::SetGroupPlace;
using velmora::SetPlace;
using velmora::WindowFont;

// Places as designed; a control's place is within its group box.
constexpr Place kForm{193, 102, 352, 279};
constexpr Place kGroupBox1{8, 8, 329, 217};  // topic page
constexpr Place kMemo1{8, 16, 313, 177};
constexpr Place kButton2{56, 200, 65, 17};   // Back
constexpr Place kButton4{192, 200, 65, 17};  // Exit Help
constexpr Place kGroupBox2{8, 8, 329, 241};  // list page, over the topic page
constexpr Place kListBox2{8, 16, 161, 169};
constexpr Place kButton1{16, 192, 57, 17};   // Back
constexpr Place kButton3{104, 192, 65, 17};  // Exit Help

constexpr char kListPageCaption[] = "Double-click to select topic";

// The topic page's buttons were designed to end on its bottom edge, where
// the platform draws the frame: the page reaches this much lower, still
// wholly under the list page.
constexpr int kTopicPageFoot = 4;
static_assert(kGroupBox1.y + kGroupBox1.h + kTopicPageFoot <= kGroupBox2.y + kGroupBox2.h);

}  // namespace

TForm1::TForm1(velmora::Env& env, std::string viewerDir, const QStringList& arguments,
               QWidget* parent)
    : QWidget(parent, Qt::Window), navigator_(env, std::move(viewerDir)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Help"));
  setFont(WindowFont());
  move(kForm.x, kForm.y);
  resize(kForm.w, kForm.h);
  BuildControls();
  FormCreate(arguments);
}

void TForm1::BuildControls() {
  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  SetGroupPlace(GroupBox1, kGroupBox1, kTopicPageFoot);
  Memo1 = new QPlainTextEdit(GroupBox1);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setAccessibleName(QStringLiteral("Topic text"));
  SetPlace(Memo1, kMemo1);
  Memo1->setReadOnly(true);
  // A caret that the arrow keys move and a screen reader follows, line by
  // line; read-only leaves only the mouse's selection.
  Memo1->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  Button2 = PlaceButton(GroupBox1, "Button2", "Back", kButton2);
  Button4 = PlaceButton(GroupBox1, "Button4", "Exit Help", kButton4);
  MakeTitleRoom(GroupBox1);

  GroupBox2 = new QGroupBox(QString::fromLatin1(kListPageCaption), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  SetGroupPlace(GroupBox2, kGroupBox2);
  // The list page hides the topic page wholly, so it paints its background.
  GroupBox2->setAutoFillBackground(true);
  ListBox2 = new QListWidget(GroupBox2);
  ListBox2->setObjectName(QStringLiteral("ListBox2"));
  ListBox2->setAccessibleName(QStringLiteral("Topics"));
  SetPlace(ListBox2, kListBox2);
  ListBox2->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBox2->setSortingEnabled(false);
  ListBox2->installEventFilter(this);
  Memo1->installEventFilter(this);
  ListBox2->viewport()->installEventFilter(this);
  Button1 = PlaceButton(GroupBox2, "Button1", "Back", kButton1);
  Button3 = PlaceButton(GroupBox2, "Button3", "Exit Help", kButton3);
  MakeTitleRoom(GroupBox2);
  setTabOrder(ListBox2, Button1);
  setTabOrder(Button1, Button3);

  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button3Click(); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // A double click anywhere in the list counts, also below its last entry.
  // It is taken here, so that the list does not select, in the entries it may
  // just have been given, the one under the pointer.
  if (watched == ListBox2->viewport() && event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    ListBox2DblClick();
    return true;
  }
  // The text box would take Backspace and Escape as its own, doing nothing.
  if (watched == Memo1 && event->type() == QEvent::KeyPress)
    return PageKey(*static_cast<QKeyEvent*>(event)) || QWidget::eventFilter(watched, event);
  if (watched == ListBox2 && event->type() == QEvent::KeyPress) {
    // Before the list, which would take Backspace as a search for an entry.
    if (PageKey(*static_cast<QKeyEvent*>(event))) return true;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // Enter opens the entry that has the focus frame, even when the list
      // only gave it the frame on gaining focus and did not select it.
      if (QListWidgetItem* current = ListBox2->currentItem(); current && SelectedEntry() < 0)
        current->setSelected(true);
      ListBox2DblClick();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm1::PageKey(const QKeyEvent& key) {
  const bool back = (key.key() == Qt::Key_Backspace && key.modifiers() == Qt::NoModifier) ||
                    (key.key() == Qt::Key_Left && key.modifiers() == Qt::AltModifier);
  if (key.key() == Qt::Key_Escape && key.modifiers() == Qt::NoModifier) {
    Button3Click();
  } else if (back) {
    // The Back of the page in front.
    if (GroupBox2->isVisible())
      Button1Click();
    else
      Button2Click();
  } else {
    return false;
  }
  return true;
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  if (!PageKey(*event)) QWidget::keyPressEvent(event);
}

template <class Step>
void TForm1::Navigate(Step step) {
  velmora::Guarded([&] { velmora::ThenAlways(step, [this] { ShowNavigation(); }); });
}

void TForm1::ShowNavigation() {
  const bool list = navigator_.listInFront();
  // The current item moves only when a step brings a list, never under a
  // user who is moving in the list shown.
  const bool listBrought = shownListVersion_ != navigator_.listVersion() || (list && !listShown_);
  listShown_ = list;
  GroupBox1->setTitle(navigator_.topicCaption());
  // The covered page is hidden, not just covered: neither Tab nor a screen
  // reader may reach a control nobody can see. The list page hides it
  // wholly, so the screen shows the same. The page in front is shown and
  // focused before the other is hidden, so that the focus never wanders.
  QGroupBox* front = list ? GroupBox2 : GroupBox1;
  front->setVisible(true);
  if (list)
    ListBox2->setFocus();
  else
    Memo1->setFocus();
  (list ? GroupBox1 : GroupBox2)->setVisible(false);
  // Contents change only in the focused control: a screen reader takes a
  // change in a control it is not in as a move of the focus into it, and
  // then stays silent when the focus really comes, or reads out the text a
  // control it is leaving loses.
  if (shownListVersion_ != navigator_.listVersion()) {
    ListBox2->clear();
    ListBox2->addItems(navigator_.entries());
    shownListVersion_ = navigator_.listVersion();
  }
  if (listBrought) AnnounceCurrentEntry(navigator_.currentEntry());
  if (shownTextVersion_ != navigator_.textVersion()) {
    Memo1->setPlainText(navigator_.topicText());
    shownTextVersion_ = navigator_.textVersion();
  }
}

void TForm1::AnnounceCurrentEntry(int entry) {
  // Set anew even when it is there already: only a change is announced.
  ListBox2->setCurrentRow(-1);
  ListBox2->setCurrentRow(entry);
}

void TForm1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The root list took the focus before the window was shown, and a screen
  // reader, which follows the active window, heard of it only as a list;
  // a Down would then pass the first entry unheard.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !everActive_) {
    everActive_ = true;
    // After the list has had its focus event, which follows this one.
    QTimer::singleShot(0, this, [this] {
      if (ListBox2->hasFocus()) AnnounceCurrentEntry(ListBox2->currentRow());
    });
  }
}

int TForm1::SelectedEntry() const {
  const QList<QListWidgetItem*> selected = ListBox2->selectedItems();
  return selected.isEmpty() ? -1 : ListBox2->row(selected.front());
}

void TForm1::FormCreate(const QStringList& arguments) {
  setWindowTitle(CaptionFromArguments(arguments));
  Navigate([this] { navigator_.Start(); });
}

void TForm1::ListBox2DblClick() {
  Navigate([this] { navigator_.OpenEntry(SelectedEntry()); });
}

void TForm1::Button1Click() {
  Navigate([this] { navigator_.LevelUp(); });
}

void TForm1::Button2Click() {
  Navigate([this] { navigator_.BackToList(); });
}

void TForm1::Button3Click() { EndProgram(); }

// The message loop stops after the current event, and the program ends with
// status 0.
void TForm1::EndProgram() { QCoreApplication::quit(); }

}  // namespace tolka
