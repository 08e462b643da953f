#pragma once
// A CardDAV account: one address book on a server, paired with one data
// file of the folder. Its settings lie in velmora.ini's [account] section;
// its password only in the desktop's keyring (the Secret Service or
// KWallet), never in a file velmora writes.

#include <optional>
#include <string>

#include "store/session.h"
#include "sync/sync.h"

namespace velmora {

struct Account {
  std::string address;  // as the user typed it
  std::string user;
  std::string addressBook;         // the address book's URL, as discovery found it
  std::string dataFile;            // the paired data file's name, as FILE OPEN shows it
  std::string trustedCertificate;  // see ServerLogin
};

// The folder's account, or nullopt when none is set up.
std::optional<Account> LoadAccount(Session& s);
// Throws IoError when velmora.ini cannot be written, AppError for a value
// holding a line break.
void SaveAccount(Session& s, const Account& a);
void RemoveAccount(Session& s);

// The keyring. Each throws AppError saying why when no keyring can be
// reached (no Secret Service running, the user refused to unlock it).
std::optional<std::string> ReadPassword(const Account& a);
void WritePassword(const Account& a, const std::string& password);
void DeletePassword(const Account& a);

// Syncs the account's data file with its address book, as SyncWithVdir
// does with a vdir. The store's lock is held only while the data file and
// the state are written, so that the windows work on during the network's
// part. Cards another writer changed meanwhile (a 412) are merged again by
// one more sync at once. Throws SyncRefused, ServerError, or the error of a
// failed step, as SyncWithVdir.
SyncSummary SyncWithAccount(Session& s, const Account& a, const std::string& password,
                            const SyncOptions& options = {}, bool* writesBegan = nullptr);

}  // namespace velmora
