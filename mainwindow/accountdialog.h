#pragma once
// ACCOUNT...: sets up, changes or removes the folder's CardDAV account, which
// is paired with the working file.
//
// The user types the server's address, the user name and the password;
// FIND ADDRESS BOOKS asks the server for the address books, which the list
// shows by name; OK saves the one picked (with only one, OK finds and picks
// it itself). Nothing is saved until the server has accepted the login. The
// server is asked on a thread of its own, the dialog disabled under a busy
// cursor meanwhile, so that the windows still paint.
//
// A certificate no authority vouches for is trusted only when the user, shown
// its SHA-256 fingerprint, says so; it is then trusted for this account alone.

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/session.h"
#include "sync/account.h"
#include "sync/carddav.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace velmora {

class AccountDialog : public QDialog {
  Q_OBJECT

 public:
  AccountDialog(Session& session, QWidget* parent = nullptr);

  // Accepted: an account was saved, or removed (then Removed() is true).
  bool Removed() const { return removed_; }

 protected:
  void reject() override;

 private:
  void Button1Click();  // FIND ADDRESS BOOKS: FindAddressBooks
  void Button2Click();  // OK: SaveAndClose
  void Button4Click();  // REMOVE ACCOUNT: RemoveAndClose
  // The login as typed; the password from the keyring when the field is
  // left empty for the account shown. False (having said why) when a part
  // is missing.
  bool TypedLogin(ServerLogin& login);
  // Asks the server for the address books and lists them. False (having
  // said why) when it could not, or the user did not trust the server.
  bool FindAddressBooks();
  void SaveAndClose();
  void RemoveAndClose();
  // The books found are for the address and login they were found with.
  void ForgetBooks();
  // fn with the dialog disabled under a busy cursor. The keyring's jobs run
  // so, on this thread: run on a thread that then ends, they would leave
  // later jobs waiting forever.
  void Busy(const std::function<void()>& fn);
  // fn on a thread of its own, the dialog busy meanwhile; what it throws is
  // thrown here.
  void OffGuiThread(const std::function<void()>& fn);

  Session& session_;
  std::optional<Account> shown_;  // the account set up before, if any
  std::vector<AddressBookInfo> books_;
  std::string trusted_;  // the certificate the user trusted, for the books found
  bool busy_ = false;
  bool removed_ = false;

  QLabel* Label1;         // "SERVER ADDRESS"
  QLineEdit* Edit1;       // the server's address, or an address book's
  QLabel* Label2;         // "USER NAME"
  QLineEdit* Edit2;       // the user name
  QLabel* Label3;         // "PASSWORD"
  QLineEdit* Edit3;       // the password, never shown
  QPushButton* Button1;   // "FIND ADDRESS BOOKS"
  QLabel* Label4;         // "ADDRESS BOOKS"
  QListWidget* ListBox1;  // the address books found, by name
  QPushButton* Button2;   // "OK"
  QPushButton* Button3;   // "CANCEL"
  QPushButton* Button4;   // "REMOVE ACCOUNT", only for an account set up before
};

}  // namespace velmora
