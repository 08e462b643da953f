#include "mainwindow/tform1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <algorithm>

#include "components/appexec.h"
#include "components/timelabel.h"
#include "mainwindow/backgroundsync.h"
#include "mainwindow/lettergrid.h"
#include "platform/codepage.h"
#include "platform/guard.h"
#include "platform/messagedialog.h"
#include "platform/widgets.h"
#include "searchedit/accesskeys.h"
#include "searchedit/cannotedit.h"
#include "searchedit/tform2.h"
#include "store/startup.h"

namespace velmora {
namespace {

// Alt and the letter, or the letter alone in an open menu, choose the
// command.
QAction* MenuCommand(QWidget* owner, const char* name, const char* caption, char key) {
  auto* a = new QAction(WithAccessKey(QString::fromLatin1(caption), QLatin1Char(key)), owner);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

QRadioButton* PlaceRadio(QWidget* parent, const char* name, const char* caption, char key,
                         QPoint at) {
  auto* b = new QRadioButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  SetAccessKey(b, QString::fromLatin1(caption), QLatin1Char(key));
  b->move(at);
  b->resize(b->sizeHint());
  return b;
}

// Keeps the platform's look, and lets Alt alone reach the menu bar.
class AltKeyMenuStyle final : public QProxyStyle {
 public:
  explicit AltKeyMenuStyle(QStyle* base) : QProxyStyle(base->name()) {}
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    if (hint == SH_MenuBar_AltKeyNavigation) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returned);
  }
};

// Trimming as the text rules have it: every character of code 32 or less.
QString TrimmedText(const QString& s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b].unicode() <= 32) ++b;
  while (e > b && s[e - 1].unicode() <= 32) --e;
  return s.mid(b, e - b);
}

}  // namespace

TForm1::TForm1(Session& session, const std::string& programDir, QWidget* parent)
    : QMainWindow(parent), session_(session) {
  setObjectName(QStringLiteral("Form1"));
  setFont(WindowFont());
  resize(kFormWidth, kFormHeight);
  BuildMenu();
  BuildSearchPanel();
  BuildFilePanels();
  BuildComponents();
  BuildSync();
  // Enter presses the focused button, as Space does.
  for (QPushButton* b : centralWidget()->findChildren<QPushButton*>()) b->setAutoDefault(true);
  FormCreate(programDir);
  // Set up as stored: the clock starts ticking from here on.
  Timelabel1->Loaded();
  BackgroundSync1->Start();
}

void TForm1::BuildComponents() {
  AppExec1 = new TAppExec(this);
  AppExec1->setObjectName(QStringLiteral("AppExec1"));
  AppExec1->SetExeName("tolka.exe");
  AppExec1->SetExeParams({"Velmora Help"});
  AppExec1->SetLangType(ltEnglish);
  AppExec1->SetWait(true);
  AppExec1->SetWindowState(wsNormal);
  connect(HELP1, &QAction::triggered, this, GuardedSlot([this] { HELP1Click(); }));

  Timelabel1 = new TTimelabel(centralWidget());
  Timelabel1->setObjectName(QStringLiteral("Timelabel1"));
  Timelabel1->setText(QStringLiteral("Timelabel1"));
  SetPlace(Timelabel1, kTimelabel1);
}

void TForm1::FormCreate(const std::string& programDir) {
  // A failed start-up step is reported and the rest of the creation skipped:
  // the program runs on with the values set so far.
  Guarded([&] {
    RunStartUp(session_, programDir);
    setWindowTitle(FromCodePage(session_.WorkingName));
    for (const std::string& warning : session_.StartUpWarnings())
      MessageDlg(QString::fromStdString(warning), MsgKind::Warning, MsgButtons::OK);
  });
}

void TForm1::BuildMenu() {
  QMenuBar* MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  MainMenu1->setNativeMenuBar(false);

  FILE1 = MainMenu1->addMenu(WithAccessKey(QStringLiteral("FILE"), u'F'));
  FILE1->setObjectName(QStringLiteral("FILE1"));
  FILE1->menuAction()->setObjectName(QStringLiteral("FILE1Action"));
  NEW1 = MenuCommand(this, "NEW1", "NEW", 'N');
  OPEN1 = MenuCommand(this, "OPEN1", "OPEN", 'O');
  SAVEAS1 = MenuCommand(this, "SAVEAS1", "SAVE AS", 'A');
  RENAME1 = MenuCommand(this, "RENAME1", "RENAME", 'R');
  DELETE1 = MenuCommand(this, "DELETE1", "DELETE", 'D');
  EXIT1 = MenuCommand(this, "EXIT1", "EXIT", 'X');
  FILE1->addActions({NEW1, OPEN1, SAVEAS1, RENAME1, DELETE1, EXIT1});

  Newrecord1 = MenuCommand(this, "Newrecord1", "NEW RECORD", 'N');
  SEARCH = MenuCommand(this, "SEARCH", "SEARCH/EDIT", 'S');
  HELP1 = MenuCommand(this, "HELP1", "HELP", 'H');
  MainMenu1->addAction(Newrecord1);
  MainMenu1->addAction(SEARCH);
  MainMenu1->addAction(HELP1);

  // S belongs to SEARCH/EDIT.
  SYNC1 = MainMenu1->addMenu(WithAccessKey(QStringLiteral("SYNC"), u'Y'));
  SYNC1->setObjectName(QStringLiteral("SYNC1"));
  SYNC1->menuAction()->setObjectName(QStringLiteral("SYNC1Action"));
  SYNCNOW1 = MenuCommand(this, "SYNCNOW1", "SYNC NOW", 'N');
  ACCOUNT1 = MenuCommand(this, "ACCOUNT1", "ACCOUNT...", 'A');
  SYNC1->addActions({SYNCNOW1, ACCOUNT1});

  // The FILE sub-menu hides the search-entry panel as soon as it opens, also
  // when no item is then chosen.
  connect(FILE1, &QMenu::aboutToShow, this, GuardedSlot([this] { FILE1Click(); }));
  connect(EXIT1, &QAction::triggered, this, GuardedSlot([this] { EXIT1Click(); }));
  connect(Newrecord1, &QAction::triggered, this, GuardedSlot([this] { Newrecord1Click(); }));
  connect(SEARCH, &QAction::triggered, this, GuardedSlot([this] { SEARCHClick(); }));

  // F10 opens the first menu; Alt alone, pressed and let go, puts the bar
  // into keyboard mode, whatever the platform's style says.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, this,
          [MainMenu1, file = FILE1->menuAction()] { MainMenu1->setActiveAction(file); });
  auto* menuStyle = new AltKeyMenuStyle(MainMenu1->style());
  menuStyle->setParent(MainMenu1);
  MainMenu1->setStyle(menuStyle);
}

void TForm1::BuildSearchPanel() {
  auto* area = new QWidget(this);
  area->setObjectName(QStringLiteral("Panels"));
  setCentralWidget(area);

  Label3 = PlaceLabel(area, "Label3", QStringLiteral("Click on character to add to search string"),
                      kLabel3);
  StringGrid1 = new LetterGrid(area);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setAccessibleName(QStringLiteral("Letters"));
  StringGrid1->move(kStringGrid1.x, kStringGrid1.y);
  Button2 = PlaceButton(area, "Button2", QStringLiteral("Clear last character"), kButton2);
  Button8 = PlaceButton(area, "Button8", QStringLiteral("Clear all"), kButton8);
  Label1 = PlaceLabel(area, "Label1", QStringLiteral("ENTER SEARCH STRING"), kLabel1);
  Edit1 = new QLineEdit(area);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setMaxLength(kSearchFieldLength);
  SetPlace(Edit1, kEdit1);
  Label1->setBuddy(Edit1);
  RadioButton2 =
      PlaceRadio(area, "RadioButton2", "BY SURNAME", 'U', {kRadioButton2.x, kRadioButton2.y});
  RadioButton1 =
      PlaceRadio(area, "RadioButton1", "BY NAME", 'B', {kRadioButton1.x, kRadioButton1.y});
  auto* choice = new QButtonGroup(area);
  choice->addButton(RadioButton2);
  choice->addButton(RadioButton1);
  RadioButton2->setChecked(true);
  Button6 = PlaceButton(area, "Button6", QStringLiteral("START SEARCH"), kButton6);
  Button7 = PlaceButton(area, "Button7", QStringLiteral("CANCEL"), kButton7);
  // The menu bar's F, N, S, H and Y stay free.
  SetAccessKey(Button2, QStringLiteral("Clear last character"), u'l');
  SetAccessKey(Button8, QStringLiteral("Clear all"), u'a');
  SetAccessKey(Label1, QStringLiteral("ENTER SEARCH STRING"), u'E');
  SetAccessKey(Button6, QStringLiteral("START SEARCH"), u'T');
  SetAccessKey(Button7, QStringLiteral("CANCEL"), u'C');

  searchPanel_ = {Label3, StringGrid1,  Button2,      Button8, Label1,
                  Edit1,  RadioButton2, RadioButton1, Button6, Button7};
  HideSearchPanel();

  connect(StringGrid1, &LetterGrid::picked, this, GuardedSlot([this] { StringGrid1Click(); }));
  connect(Button2, &QPushButton::clicked, this, GuardedSlot([this] { Button2Click(); }));
  connect(Button8, &QPushButton::clicked, this, GuardedSlot([this] { Button8Click(); }));
  connect(Button6, &QPushButton::clicked, this, GuardedSlot([this] { Button6Click(); }));
  connect(Button7, &QPushButton::clicked, this, GuardedSlot([this] { Button7Click(); }));
  connect(Edit1, &QLineEdit::returnPressed, this, GuardedSlot([this] { Button6Click(); }));
}

QString TForm1::SearchFieldText() const { return Edit1->text(); }

bool TForm1::SearchByName() const { return RadioButton1->isChecked(); }

void TForm1::HideMainWindow() {
  if (isVisible()) placeWhenHidden_ = geometry().topLeft();
  hide();
}

void TForm1::ShowMainWindow() {
  // Placed anew, a window shown again lands wherever the window manager
  // likes; put back, it keeps its place. By the inside, which is known
  // before the window manager adds its frame.
  if (placeWhenHidden_) setGeometry(QRect(*placeWhenHidden_, size()));
  show();
  activateWindow();
}

void TForm1::HideSearchPanel() {
  KeepFocusOffHidden(searchPanel_);
  for (QWidget* w : searchPanel_) w->hide();
}

void TForm1::KeepFocusOffHidden(const std::vector<QWidget*>& panel) {
  // Left where it is, the focus would pass from each hidden control to the
  // next, and a screen reader would announce every one.
  QWidget* focused = QApplication::focusWidget();
  if (focused && std::find(panel.begin(), panel.end(), focused) != panel.end()) setFocus();
}

void TForm1::HideOtherPanels() {
  HideFilePanels();
  if (form2_) form2_->hide();
}

void TForm1::FILE1Click() { HideSearchPanel(); }

void TForm1::EXIT1Click() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
  if (TAppExec::Waiting()) {
    closeWhenHelpEnds_ = true;
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TForm1::CloseBothWindows() {
  // The search/edit window may have come up during the wait; closed as its
  // close box does, it brings this window back, whose closing then is the
  // last one and ends the program.
  if (form2_ && form2_->isVisible()) form2_->close();
  close();
}

void TForm1::HELP1Click() { ShowHelp(); }

void TForm1::ShowHelp() {
  // A close asked for during the wait happens once the outermost wait is
  // over, also when the viewer could not be started.
  struct CloseAfterWait {
    TForm1* form;
    ~CloseAfterWait() {
      if (form->closeWhenHelpEnds_ && !TAppExec::Waiting()) {
        form->closeWhenHelpEnds_ = false;
        form->CloseBothWindows();
      }
    }
  } closeAfterWait{this};
  AppExec1->Execute();
}

void TForm1::SEARCHClick() { OpenSearchPanel(); }

void TForm1::OpenSearchPanel() {
  StringGrid1->FillLetters();
  // The controls under the grid move down by the rows it has grown by.
  const int grown = StringGrid1->height() - LetterGrid::kRows * LetterGrid::kCellHeight;
  for (auto [w, y] : {std::pair<QWidget*, int>{Button2, kButton2.y},
                      {Button8, kButton8.y},
                      {Label1, kLabel1.y},
                      {Edit1, kEdit1.y},
                      {RadioButton2, kRadioButton2.y},
                      {RadioButton1, kRadioButton1.y},
                      {Button6, kButton6.y},
                      {Button7, kButton7.y}})
    w->move(w->x(), y + grown);
  StringGrid1->show();
  Label3->show();
  Button2->show();
  Button8->show();
  HideOtherPanels();
  Edit1->show();
  Edit1->clear();
  RadioButton1->show();
  RadioButton2->show();
  Button6->show();
  Button7->show();
  Label1->show();
  Edit1->setFocus();
}

void TForm1::StringGrid1Click() {
  if (Edit1->text().size() >= kSearchFieldLength) return;
  Edit1->setText(Edit1->text() + StringGrid1->SelectedLetter());
  // The focus stays in the letters: the reader hears the field's change there.
  StringGrid1->AnnouncePick(Edit1->text());
}

void TForm1::Button2Click() { ClearLastCharacter(); }

void TForm1::ClearLastCharacter() {
  QString text = TrimmedText(Edit1->text());
  text.chop(1);
  Edit1->setText(text);
}

void TForm1::Button8Click() { Edit1->clear(); }

void TForm1::Button6Click() { StartSearch(); }

void TForm1::StartSearch() {
  // Showing the window runs its search; it hides this window itself, before
  // the panel hides, so that the focus does not wander through the panel.
  if (form2_) form2_->show();
  HideSearchPanel();
  if (!form2_) return;
  form2_->ShowGridAndButtons();
}

void TForm1::Button7Click() {
  HideSearchPanel();
  Edit1->clear();
}

void TForm1::Newrecord1Click() { StartNewRecord(); }

void TForm1::StartNewRecord() {
  if (IsSampleFile(session_)) {
    ShowCannotEdit();
    return;
  }
  if (!form2_) return;
  form2_->EnterAddMode();
  HideMainWindow();
  form2_->show();
  form2_->ClearRecordFields();
}

}  // namespace velmora
