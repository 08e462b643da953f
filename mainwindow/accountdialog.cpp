#include "mainwindow/accountdialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <exception>

#include "platform/codepage.h"
#include "platform/guard.h"
#include "platform/messagedialog.h"
#include "platform/text.h"
#include "platform/widgets.h"
#include "searchedit/accesskeys.h"
#include "searchedit/cannotedit.h"
#include "store/startup.h"

namespace velmora {
namespace {

constexpr char kTypeLogin[] = "Type the server's address and your user name.";
constexpr char kTypePassword[] = "Type your password.";
constexpr char kPickBook[] = "Pick one of the address books, then OK.";
constexpr char kNoBooks[] = "The server lists no address book for this user.";
constexpr char kTrustFirst[] =
    "No authority vouches for the server's certificate. Trust it for this account only if its "
    "SHA-256 fingerprint is the one your server's owner gives you:";
constexpr char kTrustLast[] = "Trust this certificate?";
constexpr char kRemove[] =
    "Remove the account? Syncing stops; the entries stay in the data file and on the server.";

QLabel* FieldLabel(QWidget* parent, const char* name, const char* caption, char key,
                   QWidget* field) {
  auto* l = new QLabel(parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setTextFormat(Qt::PlainText);
  SetAccessKey(l, QString::fromLatin1(caption), QLatin1Char(key));
  // Screen readers name the field after its label.
  l->setBuddy(field);
  return l;
}

QLineEdit* Field(QWidget* parent, const char* name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setMinimumWidth(260);
  return e;
}

// Enter presses the focused button; in a field, OK.
QPushButton* Button(QWidget* parent, const char* name, const char* caption, char key) {
  auto* b = new QPushButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  SetAccessKey(b, QString::fromLatin1(caption), QLatin1Char(key));
  return b;
}

void Say(const char* text, MsgKind kind = MsgKind::Information) {
  MessageDlg(QString::fromLatin1(text), kind, MsgButtons::OK);
}

}  // namespace

AccountDialog::AccountDialog(Session& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName(QStringLiteral("AccountDialog"));
  setWindowTitle(QStringLiteral("Account"));
  setFont(WindowFont());

  Edit1 = Field(this, "Edit1");
  Label1 = FieldLabel(this, "Label1", "SERVER ADDRESS", 'S', Edit1);
  Edit2 = Field(this, "Edit2");
  Label2 = FieldLabel(this, "Label2", "USER NAME", 'U', Edit2);
  Edit3 = Field(this, "Edit3");
  Edit3->setEchoMode(QLineEdit::Password);
  Label3 = FieldLabel(this, "Label3", "PASSWORD", 'P', Edit3);
  Button1 = Button(this, "Button1", "FIND ADDRESS BOOKS", 'F');
  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  Label4 = FieldLabel(this, "Label4", "ADDRESS BOOKS", 'B', ListBox1);
  // A list is not named after its label as a field is.
  ListBox1->setAccessibleName(QStringLiteral("ADDRESS BOOKS"));
  Button2 = Button(this, "Button2", "OK", 'O');
  Button2->setDefault(true);
  Button3 = Button(this, "Button3", "CANCEL", 'C');
  Button4 = Button(this, "Button4", "REMOVE ACCOUNT", 'R');

  auto* grid = new QGridLayout(this);
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(Edit1, 0, 1);
  grid->addWidget(Label2, 1, 0);
  grid->addWidget(Edit2, 1, 1);
  grid->addWidget(Label3, 2, 0);
  grid->addWidget(Edit3, 2, 1);
  grid->addWidget(Button1, 3, 1, Qt::AlignLeft);
  grid->addWidget(Label4, 4, 0, Qt::AlignTop);
  grid->addWidget(ListBox1, 4, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button4);
  buttons->addStretch();
  buttons->addWidget(Button2);
  buttons->addWidget(Button3);
  grid->addLayout(buttons, 5, 0, 1, 2);

  shown_ = LoadAccount(session_);
  Button4->setVisible(shown_.has_value());
  if (shown_) {
    Edit1->setText(QString::fromStdString(shown_->address));
    Edit2->setText(QString::fromStdString(shown_->user));
    Edit3->setPlaceholderText(QStringLiteral("as kept in the keyring"));
    // Its address book by its address: the name needs the server.
    books_ = {{shown_->addressBook, shown_->addressBook}};
    trusted_ = shown_->trustedCertificate;
    ListBox1->addItem(QString::fromStdString(shown_->addressBook));
    ListBox1->setCurrentRow(0);
  }

  for (QLineEdit* e : {Edit1, Edit2, Edit3})
    connect(e, &QLineEdit::textEdited, this, [this] { ForgetBooks(); });
  connect(Button1, &QPushButton::clicked, this, GuardedSlot([this] { Button1Click(); }));
  connect(Button2, &QPushButton::clicked, this, GuardedSlot([this] { Button2Click(); }));
  connect(Button3, &QPushButton::clicked, this, [this] { reject(); });
  connect(Button4, &QPushButton::clicked, this, GuardedSlot([this] { Button4Click(); }));
}

void AccountDialog::reject() {
  // Not while the server is asked: the answer comes back to this dialog.
  if (!busy_) QDialog::reject();
}

void AccountDialog::ForgetBooks() {
  books_.clear();
  trusted_.clear();
  ListBox1->clear();
}

void AccountDialog::Busy(const std::function<void()>& fn) {
  busy_ = true;
  setEnabled(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  struct Restore {
    AccountDialog* d;
    ~Restore() {
      QApplication::restoreOverrideCursor();
      d->setEnabled(true);
      d->busy_ = false;
    }
  } restore{this};
  fn();
}

void AccountDialog::OffGuiThread(const std::function<void()>& fn) {
  std::exception_ptr error;
  Busy([&] {
    QEventLoop loop;
    QThread* thread = QThread::create([&] {
      try {
        fn();
      } catch (...) {
        error = std::current_exception();
      }
    });
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    delete thread;
  });
  if (error) std::rethrow_exception(error);
}

bool AccountDialog::TypedLogin(ServerLogin& login) {
  const std::string address = Trim(Edit1->text().toStdString());
  login.user = Trim(Edit2->text().toStdString());
  login.password = Edit3->text().toStdString();
  login.trustedCertificate = trusted_;
  if (address.empty() || login.user.empty()) {
    Say(kTypeLogin);
    return false;
  }
  if (login.password.empty() && shown_ && shown_->address == address &&
      shown_->user == login.user) {
    std::optional<std::string> kept;
    Busy([&] { kept = ReadPassword(*shown_); });
    if (kept) login.password = *kept;
  }
  if (login.password.empty()) {
    Say(kTypePassword);
    return false;
  }
  return true;
}

void AccountDialog::Button1Click() { FindAddressBooks(); }

bool AccountDialog::FindAddressBooks() {
  ServerLogin login;
  if (!TypedLogin(login)) return false;
  const std::string address = Trim(Edit1->text().toStdString());
  ForgetBooks();
  std::vector<AddressBookInfo> found;
  for (;;) {
    try {
      OffGuiThread([&] { found = DiscoverAddressBooks(address, login); });
      break;
    } catch (const ServerError& e) {
      // Asked once: a second untrusted answer is another certificate.
      if (e.kind != ServerError::kUntrusted || !login.trustedCertificate.empty()) throw;
      const QString question = QString::fromLatin1(kTrustFirst) + QStringLiteral("\n\n") +
                               QString::fromStdString(e.fingerprint) + QStringLiteral("\n\n") +
                               QString::fromLatin1(kTrustLast);
      if (MessageDlg(question, MsgKind::Warning, MsgButtons::YesNo) != MsgResult::Yes) return false;
      login.trustedCertificate = e.fingerprint;
    }
  }
  if (found.empty()) {
    Say(kNoBooks, MsgKind::Warning);
    return false;
  }
  books_ = std::move(found);
  trusted_ = login.trustedCertificate;
  for (const AddressBookInfo& book : books_) ListBox1->addItem(QString::fromStdString(book.name));
  if (books_.size() == 1) ListBox1->setCurrentRow(0);
  return true;
}

void AccountDialog::Button2Click() { SaveAndClose(); }

void AccountDialog::SaveAndClose() {
  if (IsSampleFile(session_)) {
    ShowCannotEdit();
    return;
  }
  if (books_.empty() && !FindAddressBooks()) return;
  const int picked = ListBox1->currentRow();
  if (picked < 0 || ListBox1->selectedItems().isEmpty()) {
    Say(kPickBook);
    return;
  }
  ServerLogin login;
  if (!TypedLogin(login)) return;
  Account a;
  a.address = Trim(Edit1->text().toStdString());
  a.user = login.user;
  a.addressBook = books_[size_t(picked)].url;
  a.dataFile = session_.WorkingName + "." + session_.WorkingExt;
  a.trustedCertificate = trusted_;
  // The password first: an account saved without one could not sync.
  Busy([&] { WritePassword(a, login.password); });
  SaveAccount(session_, a);
  // The keyring's entry for the login no longer used.
  if (shown_ && (shown_->address != a.address || shown_->user != a.user)) {
    try {
      Busy([&] { DeletePassword(*shown_); });
    } catch (const std::exception&) {
      // A password left in the keyring harms nothing velmora does.
    }
  }
  accept();
}

void AccountDialog::Button4Click() { RemoveAndClose(); }

void AccountDialog::RemoveAndClose() {
  if (!shown_ || MessageDlg(QString::fromLatin1(kRemove), MsgKind::Confirmation,
                            MsgButtons::YesNo) != MsgResult::Yes)
    return;
  RemoveAccount(session_);
  removed_ = true;
  // The account is gone whatever the keyring says; a keyring that cannot be
  // reached keeps the password, which is said once the dialog has closed.
  std::exception_ptr kept;
  try {
    Busy([this] { DeletePassword(*shown_); });
  } catch (...) {
    kept = std::current_exception();
  }
  accept();
  if (kept) std::rethrow_exception(kept);
}

}  // namespace velmora
