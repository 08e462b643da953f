#include "mainwindow/backgroundsync.h"

#include <QThread>
#include <QTimer>
#include <exception>
#include <new>
#include <utility>

#include "platform/codepage.h"
#include "platform/ioerror.h"
#include "platform/text.h"
#include "store/startup.h"

namespace velmora {
namespace {

constexpr char kNoPassword[] =
    "the keyring holds no password for this account; ACCOUNT... asks for it again";

// "2 added here, 1 changed there", or that nothing changed.
QString Counts(const SyncSummary& s) {
  struct Count {
    uint64_t n;
    const char* what;
  };
  const Count counts[] = {{s.addedHere, "added here"},       {s.changedHere, "changed here"},
                          {s.deletedHere, "deleted here"},   {s.addedThere, "added there"},
                          {s.changedThere, "changed there"}, {s.deletedThere, "deleted there"}};
  QString text;
  for (const Count& c : counts) {
    if (c.n == 0) continue;
    if (!text.isEmpty()) text += QStringLiteral(", ");
    text += QString::number(c.n) + QLatin1Char(' ') + QLatin1String(c.what);
  }
  if (text.isEmpty()) text = QStringLiteral("nothing changed");
  if (!s.conflicts.empty())
    text += QStringLiteral(", %1 changed on both sides").arg(s.conflicts.size());
  if (!s.skipped.empty()) text += QStringLiteral(", %1 cards skipped").arg(s.skipped.size());
  return text;
}

// Why a sync failed, in one line: a file step's error names its file.
std::string WhyFailed(const std::exception& e) {
  const auto* io = dynamic_cast<const IoError*>(&e);
  std::string why = io && !io->path().empty() ? QuotedName(io->path()) + ": " : "";
  return OneLine(why + e.what());
}

}  // namespace

// What the worker thread owns: its session and its outcome. Shared with the
// thread's function, so that neither outlives the other's use of it.
struct BackgroundSync::Job {
  explicit Job(Env& env) : session(env) {}
  Session session;
  Account account;
  SyncOutcome outcome;
};

BackgroundSync::BackgroundSync(Session& window, Runner runner, Keyring keyring, QObject* parent)
    : QObject(parent),
      window_(window),
      runner_(runner ? std::move(runner)
                     : Runner([](Session& s, const Account& a, const std::string& password) {
                         return SyncWithAccount(s, a, password);
                       })),
      keyring_(keyring ? std::move(keyring) : Keyring(ReadPassword)),
      period_(new QTimer(this)),
      afterChange_(new QTimer(this)) {
  period_->setInterval(kPeriodMs);
  afterChange_->setSingleShot(true);
  afterChange_->setInterval(kAfterChangeMs);
  connect(period_, &QTimer::timeout, this, &BackgroundSync::SyncNow);
  connect(afterChange_, &QTimer::timeout, this, &BackgroundSync::SyncNow);
}

BackgroundSync::~BackgroundSync() {
  if (thread_) {
    thread_->wait();
    delete thread_;
  }
}

std::optional<Account> BackgroundSync::AccountHere() const {
  if (window_.ProgramDir.empty() || IsSampleFile(window_)) return std::nullopt;
  std::optional<Account> a;
  try {
    a = LoadAccount(window_);
  } catch (const std::exception&) {
    // velmora.ini unreadable: start-up has said so; there is no account.
    return std::nullopt;
  }
  if (!a || !SameText(a->dataFile, window_.WorkingName + "." + window_.WorkingExt))
    return std::nullopt;
  return a;
}

void BackgroundSync::Start() {
  period_->start();
  // Once the window shows: the keyring may first ask to be unlocked.
  if (AccountHere()) QTimer::singleShot(0, this, &BackgroundSync::SyncNow);
}

void BackgroundSync::EntriesChanged() { afterChange_->start(); }

void BackgroundSync::SyncNow() {
  afterChange_->stop();
  if (Running()) {
    again_ = true;
    return;
  }
  if (const std::optional<Account> a = AccountHere()) Launch(*a);
}

void BackgroundSync::Launch(const Account& account) {
  // The keyring's loop may run timers that ask for a sync meanwhile.
  launching_ = true;
  std::string password;
  SyncOutcome failed;
  try {
    const std::optional<std::string> kept = keyring_(account);
    if (kept)
      password = *kept;
    else
      failed.error = kNoPassword;
  } catch (const std::exception& e) {
    failed.error = WhyFailed(e);
  } catch (...) {
    failed.error = "unknown error";
  }
  launching_ = false;
  if (!failed.error.empty()) {
    failed.when = QDateTime::currentDateTime();
    return Tell(failed);
  }
  auto job = std::make_shared<Job>(window_.env());
  job->session.ProgramDir = window_.ProgramDir;
  job->session.WorkingName = window_.WorkingName;
  job->session.WorkingExt = window_.WorkingExt;
  job->session.lockWaitMs = kLockWaitMs;
  job->account = account;
  job_ = job;
  thread_ = QThread::create([job, runner = runner_, password = std::move(password)] {
    SyncOutcome& out = job->outcome;
    try {
      out.summary = runner(job->session, job->account, password);
      out.ok = true;
    } catch (const std::bad_alloc&) {
      out.error = kOutOfMemoryText;
    } catch (const std::exception& e) {
      out.error = WhyFailed(e);
    } catch (...) {
      out.error = "unknown error";
    }
    out.when = QDateTime::currentDateTime();
  });
  connect(thread_, &QThread::finished, this, &BackgroundSync::Done);
  emit Began();
  thread_->start();
}

void BackgroundSync::Done() {
  thread_->wait();
  delete thread_;
  thread_ = nullptr;
  const SyncOutcome outcome = job_->outcome;
  job_.reset();
  Tell(outcome);
}

void BackgroundSync::Tell(const SyncOutcome& outcome) {
  last_ = outcome;
  // The sync asked for meanwhile starts before the window tells this one's
  // outcome, which may wait in a box for the user.
  if (std::exchange(again_, false)) SyncNow();
  emit Finished(outcome);
}

QString BackgroundSync::StatusText(const SyncOutcome& o) {
  const QString at = o.when.toString(QStringLiteral("HH:mm"));
  if (!o.ok)
    return QStringLiteral("Sync failed ") + at + QStringLiteral(": ") +
           QString::fromStdString(o.error);
  return QStringLiteral("Synced ") + at + QStringLiteral(": ") + Counts(o.summary);
}

}  // namespace velmora
