#pragma once
// Syncs the folder's account while the windows work on: at start, every 15
// minutes, a few seconds after each change the user makes, and at SYNC NOW.
//
// A sync runs on a thread of its own, on a session of its own (the
// window's values copied, never the window's session, which is not for two
// threads); the store's lock keeps it and the windows apart while the data
// file is written. One sync at a time: asked again while one runs, one more
// follows it, however often it was asked.
//
// Only the account's data file is synced, and only while it is the working
// file: the other data files are no business of the server's.

#include <QDateTime>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "store/session.h"
#include "sync/account.h"

class QThread;
class QTimer;

namespace velmora {

// How a sync ended.
struct SyncOutcome {
  QDateTime when;  // when it ended
  bool ok = false;
  SyncSummary summary;  // when ok
  std::string error;    // when not: why, in words for the user
};

class BackgroundSync : public QObject {
  Q_OBJECT

 public:
  // One sync, on the worker thread, with the account's password: by default
  // SyncWithAccount. The keyring is read on the window's thread before: its
  // jobs, run on a thread that then ends, leave later ones waiting forever.
  using Runner = std::function<SyncSummary(Session&, const Account&, const std::string& password)>;
  // The account's password: by default ReadPassword.
  using Keyring = std::function<std::optional<std::string>(const Account&)>;
  static constexpr int kPeriodMs = 15 * 60 * 1000;
  static constexpr int kAfterChangeMs = 5000;
  // A background sync may wait its turn at the lock longer than the windows,
  // which a user watches.
  static constexpr int kLockWaitMs = 30000;

  explicit BackgroundSync(Session& window, Runner runner = {}, Keyring keyring = {},
                          QObject* parent = nullptr);
  // Waits for a running sync to end: a thread cut off could leave nothing
  // behind that the next sync cannot complete, but its objects must not
  // outlive what they point to.
  ~BackgroundSync() override;

  // The account set up for the working file, if any.
  std::optional<Account> AccountHere() const;
  // Starts the timer and, when an account is set up for the working file,
  // a first sync.
  void Start();
  // A sync now, or right after the one running.
  void SyncNow();
  // The user changed an entry: a sync once the changes have paused.
  void EntriesChanged();
  bool Running() const { return thread_ != nullptr || launching_; }
  const std::optional<SyncOutcome>& Last() const { return last_; }

  // The first line of the outcome, for the status line: "Synced 14:05: 2
  // added here, 1 changed there", "Sync failed 14:05: why".
  static QString StatusText(const SyncOutcome& outcome);

 signals:
  void Began();
  // On the window's thread, after every sync.
  void Finished(const SyncOutcome& outcome);

 private:
  void Launch(const Account& account);
  void Done();
  void Tell(const SyncOutcome& outcome);

  Session& window_;
  Runner runner_;
  Keyring keyring_;
  QTimer* period_;
  QTimer* afterChange_;
  QThread* thread_ = nullptr;
  struct Job;
  std::shared_ptr<Job> job_;
  bool again_ = false;
  bool launching_ = false;  // the keyring is being read
  std::optional<SyncOutcome> last_;
};

}  // namespace velmora
