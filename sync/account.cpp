#include "sync/account.h"

#include <QEventLoop>
#include <functional>
#include <memory>
#include <qt6keychain/keychain.h>
#include <utility>

#include "platform/profile.h"
#include "store/datafolder.h"
#include "sync/carddav.h"
#include "sync/storesync.h"

namespace velmora {
namespace {

constexpr char kSection[] = "account";
// The keys of the section, in Account's order.
constexpr const char* kKeys[] = {"address", "user", "addressbook", "datafile", "certificate"};

std::string* Values(Account& a, int k) {
  std::string* all[] = {&a.address, &a.user, &a.addressBook, &a.dataFile, &a.trustedCertificate};
  return all[k];
}

std::string ConfigPath(Session& s) { return s.PathInProgramDir(kConfigFileName); }

// The keyring entry: one per user and address book, so that a second
// account of the same user elsewhere never reads this one's password.
QString KeyOf(const Account& a) { return QString::fromStdString(a.user + "@" + a.addressBook); }

// Runs a keyring job to its end in a loop of its own: the calling thread
// (a worker's, or a command line's) need not run one.
template <class JobT>
std::unique_ptr<JobT> Finished(const Account& a, const std::function<void(JobT&)>& set = {}) {
  auto job = std::make_unique<JobT>(QStringLiteral("velmora"));
  job->setAutoDelete(false);
  // Never a file beside the keyring's place when no keyring answers.
  job->setInsecureFallback(false);
  job->setKey(KeyOf(a));
  if (set) set(*job);
  QEventLoop loop;
  // A job that fails at once may finish inside start().
  bool finished = false;
  QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
    finished = true;
    loop.quit();
  });
  job->start();
  if (!finished) loop.exec();
  return job;
}

[[noreturn]] void Unreachable(const QKeychain::Job& job) {
  const std::string why = job.errorString().toStdString();
  throw AppError("The desktop's keyring could not be used" + (why.empty() ? "" : ": " + why));
}

// What two syncs in a row did, as one summary. The cards the first left
// behind, the second tried again: only its own are told.
SyncSummary Merged(SyncSummary first, bool firstWroteData, SyncSummary second) {
  SyncSummary out = std::move(second);
  out.addedThere += first.addedThere;
  out.changedThere += first.changedThere;
  out.deletedThere += first.deletedThere;
  out.firstSync = first.firstSync;
  if (!first.stateProblem.empty()) out.stateProblem = std::move(first.stateProblem);
  if (!firstWroteData) return out;
  out.addedHere += first.addedHere;
  out.changedHere += first.changedHere;
  out.deletedHere += first.deletedHere;
  out.replaced += first.replaced;
  out.cut += first.cut;
  first.conflicts.insert(first.conflicts.end(), out.conflicts.begin(), out.conflicts.end());
  out.conflicts = std::move(first.conflicts);
  return out;
}

}  // namespace

std::optional<Account> LoadAccount(Session& s) {
  const std::string path = ConfigPath(s);
  Account a;
  for (int k = 0; k < 5; ++k)
    *Values(a, k) = ReadProfileString(s.env(), path, kSection, kKeys[k], "");
  // An account removed keeps its keys, each empty.
  if (a.addressBook.empty() || a.dataFile.empty()) return std::nullopt;
  return a;
}

void SaveAccount(Session& s, const Account& a) {
  const std::string path = ConfigPath(s);
  Account copy = a;
  for (int k = 0; k < 5; ++k)
    if (Values(copy, k)->find_first_of("\r\n") != std::string::npos)
      throw AppError(std::string("The account's ") + kKeys[k] + " may not hold a line break");
  for (int k = 0; k < 5; ++k)
    if (!WriteProfileString(s.env(), path, kSection, kKeys[k], *Values(copy, k)))
      throw IoError(IoError::kAccessDenied, path);
}

void RemoveAccount(Session& s) {
  Account none;
  SaveAccount(s, none);
}

std::optional<std::string> ReadPassword(const Account& a) {
  auto job = Finished<QKeychain::ReadPasswordJob>(a);
  if (job->error() == QKeychain::EntryNotFound) return std::nullopt;
  if (job->error() != QKeychain::NoError) Unreachable(*job);
  return job->textData().toStdString();
}

void WritePassword(const Account& a, const std::string& password) {
  auto job = Finished<QKeychain::WritePasswordJob>(
      a, [&](QKeychain::WritePasswordJob& j) { j.setTextData(QString::fromStdString(password)); });
  if (job->error() != QKeychain::NoError) Unreachable(*job);
}

void DeletePassword(const Account& a) {
  auto job = Finished<QKeychain::DeletePasswordJob>(a);
  if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
    Unreachable(*job);
}

SyncSummary SyncWithAccount(Session& s, const Account& a, const std::string& password,
                            const SyncOptions& options, bool* writesBegan) {
  const ServerLogin login{a.user, password, a.trustedCertificate};
  StoreSide side;
  side.partner = a.addressBook;
  side.vdir = false;
  side.open = [&](const std::optional<SyncState>& last) {
    CardDavStore::Known known;
    if (last) {
      known.token = last->token;
      for (const PairState& p : last->pairs) known.cards.push_back({p.file, p.stamp, {}});
    }
    return std::make_unique<CardDavStore>(a.addressBook, login, std::move(known));
  };
  side.token = [](CardStore& store) { return static_cast<CardDavStore&>(store).Token(); };

  bool began = false;
  // The first sync's summary when one more ran, and whether it wrote the
  // data file (else its entries' changes are the second's to make).
  std::optional<SyncSummary> first;
  bool firstWroteData = false;
  for (int attempt = 0;; ++attempt) {
    bool wrote = false, leftAlone = false;
    try {
      SyncSummary sum = SyncWithStore(s, side, options, &wrote, &leftAlone);
      began |= wrote;
      if (attempt == 0 && leftAlone && !options.dryRun) {
        first = std::move(sum);
        firstWroteData = true;
        continue;
      }
      if (writesBegan) *writesBegan = began;
      return first ? Merged(std::move(*first), firstWroteData, std::move(sum)) : sum;
    } catch (DataFileChanged& e) {
      began |= wrote;
      if (attempt > 0) {
        if (writesBegan) *writesBegan = began;
        throw;
      }
      first = std::move(e.done);
    } catch (...) {
      if (writesBegan) *writesBegan = began | wrote;
      throw;
    }
  }
}

}  // namespace velmora
