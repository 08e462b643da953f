#include "sync/command.h"

#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <utility>

#include "platform/programdir.h"
#include "platform/text.h"
#include "store/startup.h"
#include "sync/account.h"
#include "sync/carddav.h"
#include "sync/sync.h"

namespace velmora {
namespace {

constexpr char kUsage[] =
    "usage: velmora --sync DIR [NAME] [--prefer here|there] [--reset] [--dry-run] "
    "[--allow-empty]; or --sync --account with the same options";
// After a failed step, once the sync had begun to write: what it wrote
// (cards, the data file) the next sync pairs again and completes.
constexpr char kCompletedNext[] = "; nothing is lost: the next sync completes the rest";
// After a failed step before the first write.
constexpr char kNothingChanged[] = "; nothing was changed";
constexpr char kNoAccountText[] =
    "no CardDAV account is set up; add one in the window: SYNC, ACCOUNT...";
constexpr char kEnterPasswordText[] = "enter it in the window: SYNC, ACCOUNT...";

struct Command {
  bool account = false;  // the CardDAV account, instead of dir and name
  std::string dir;
  std::optional<std::string> name;
  SyncOptions options;
};

// The switches. Each option may be given once: twice, the command line does
// not say what the user wants (which --prefer?), and a typing slip in a
// unit file had better stop the sync than half-work.
constexpr std::pair<const char*, bool SyncOptions::*> kSwitches[] = {
    {"--reset", &SyncOptions::reset},
    {"--dry-run", &SyncOptions::dryRun},
    {"--allow-empty", &SyncOptions::allowEmpty},
};

std::optional<Command> Parse(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "--sync") return std::nullopt;
  Command c;
  std::vector<std::string> plain;
  std::set<std::string> given;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      plain.push_back(arg);
      continue;
    }
    if (!given.insert(arg).second) return std::nullopt;
    bool known = false;
    for (auto [name, field] : kSwitches)
      if (arg == name) c.options.*field = known = true;
    if (known) continue;
    if (arg == "--account") {
      c.account = true;
      continue;
    }
    if (arg != "--prefer" || i + 1 == args.size() ||
        (args[i + 1] != "here" && args[i + 1] != "there"))
      return std::nullopt;
    c.options.prefer = args[++i] == "here" ? Prefer::kHere : Prefer::kThere;
  }
  if (c.account) return plain.empty() ? std::optional(c) : std::nullopt;
  if (plain.empty() || plain.size() > 2 || plain[0].empty()) return std::nullopt;
  c.dir = plain[0];
  if (plain.size() == 2) c.name = plain[1];
  return c;
}

// DIR as the user meant it. A shell makes a leading "~" the home folder
// before velmora sees it; systemd does not, in sync.conf's
// VELMORA_SYNC_DIR=~/..., and the sync would make a folder named "~" in the
// unit's working folder. Sets why when DIR is no folder to sync with.
std::string Expanded(const std::string& dir, const std::optional<std::string>& home,
                     std::string& why) {
  if (!dir.starts_with('~')) return dir;
  if (dir != "~" && !dir.starts_with("~/")) {
    why = QuotedName(dir) + ": only ~ and ~/... stand for the home folder; give the whole path";
    return {};
  }
  if (!home || !home->starts_with('/')) {
    why = QuotedName(dir) + ": ~ stands for the home folder, but HOME names none";
    return {};
  }
  std::string path = *home;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path + dir.substr(1);
}

std::string Counts(uint64_t added, uint64_t changed, uint64_t deleted) {
  return CountOf(added, "added", "added") + ", " + CountOf(changed, "changed", "changed") + ", " +
         CountOf(deleted, "deleted", "deleted");
}

// fileName and dir quoted as they are shown; account: dir is the address
// book's URL.
std::string SummaryLine(const std::string& fileName, const std::string& dir, bool account,
                        const SyncSummary& s, const SyncOptions& o) {
  std::string line = "velmora: " + fileName +
                     (o.dryRun ? " would be synced with " : " synced with ") + dir +
                     (s.firstSync ? " for the first time" : "") + ": " +
                     Counts(s.addedHere, s.changedHere, s.deletedHere) + " in velmora, " +
                     Counts(s.addedThere, s.changedThere, s.deletedThere) +
                     (account ? " in the address book" : " in the folder");
  if (!s.conflicts.empty()) {
    line += "; " + CountOf(s.conflicts.size(), "conflict", "conflicts") +
            (o.prefer == Prefer::kBoth   ? ", both versions kept: "
             : o.prefer == Prefer::kHere ? ", velmora's version kept: "
             : account                   ? ", the server's version kept: "
                                         : ", the folder's version kept: ");
    for (size_t i = 0; i < s.conflicts.size(); ++i) line += (i ? ", " : "") + s.conflicts[i];
  }
  // As the import counts what a data file cannot hold.
  if (s.cut > 0 || s.replaced > 0)
    line += "; " + CountOf(s.cut, "field", "fields") + " cut to size, " +
            CountOf(s.replaced, "character", "characters") + " replaced by \"?\"";
  if (s.blankCards > 0)
    line += "; " + CountOf(s.blankCards, "card", "cards") +
            " left alone: no name, surname, phone or comments";
  if (!s.skipped.empty())
    line += "; " + CountOf(s.skipped.size(), "card", "cards") + " could not be read and " +
            (s.skipped.size() == 1 ? "was" : "were") + " skipped";
  if (o.dryRun) line += "; a dry run: nothing was written";
  return line;
}

// A card the sync skipped, as a line naming it by its path.
std::string SkippedLine(const std::string& dir, const SkippedCard& card) {
  return "velmora: " + QuotedName(dir + card.file) + ": " + card.why;
}

}  // namespace

bool IsSyncCommand(int argc, char** argv) {
  return argc > 1 && std::strcmp(argv[1], "--sync") == 0;
}

int RunSyncCommand(const std::vector<std::string>& args, const std::string& dataDir,
                   const std::optional<std::string>& home, Env& env, CommandIo& io) {
  // Every line goes out as one line, whatever texts of cards and files it
  // holds; names in it are quoted where they are made.
  auto say = [&](const std::string& line) { io.err(OneLine(line)); };
  const std::optional<Command> c = Parse(args);
  if (!c) {
    // A command line that makes no sense: status 2, as for the other commands.
    say(kUsage);
    return 2;
  }
  auto fail = [&](const std::string& what) {
    say("velmora: " + what);
    return 1;
  };
  std::string why;
  std::string dir = c->account ? "" : Expanded(c->dir, home, why);
  if (!why.empty()) return fail(why);
  std::string shownDir = QuotedName(dir);

  Session s(env);
  std::string fileName;  // quoted, once known
  bool made = false, writesBegan = false;
  std::optional<Account> account;
  try {
    RunStartUp(s, dataDir);
    for (const std::string& warning : s.StartUpWarnings()) say("velmora: " + warning);
    bool exists = true;
    if (c->account) {
      account = LoadAccount(s);
      if (!account) return fail(kNoAccountText);
      dir = account->addressBook;
      shownDir = QuotedName(dir);
      if (const auto bad = ChooseDataFile(s, account->dataFile, true, exists)) return fail(*bad);
    }
    if (c->name)
      if (const auto bad = ChooseDataFile(s, *c->name, true, exists)) return fail(*bad);
    if (IsSampleFile(s)) {
      say(std::string("velmora: ") + kCannotEditText);
      // As on a fresh install, where the file opened at start is the sample.
      if (!c->name && !c->account)
        say("velmora: name the data file to sync; --sync DIR NAME makes NAME if missing");
      return 1;
    }
    const std::string path = s.WorkingFilePath();
    fileName = QuotedName(path.substr(path.rfind('/') + 1));
    std::string password;
    if (account) {
      std::optional<std::string> kept;
      try {
        kept = ReadPassword(*account);
      } catch (const AppError& e) {
        return fail(e.what());  // no keyring: nothing of the data file is in question
      }
      if (!kept)
        return fail("the desktop's keyring holds no password for " + QuotedName(account->user) +
                    " at " + shownDir + "; " + kEnterPasswordText);
      password = *kept;
    }
    if (!exists && c->options.dryRun) {
      say("velmora: there is no data file " + fileName + " yet: the sync makes it and adds the " +
          "cards of " + shownDir + " to it; a dry run: nothing was written");
      return 0;
    }
    if (!exists) {
      MakeEmptyDataFile(s);
      made = true;
    }
    SyncSummary sum;
    try {
      sum = account ? SyncWithAccount(s, *account, password, c->options, &writesBegan)
                    : SyncWithVdir(s, dir, c->options, &writesBegan);
    } catch (...) {
      // A refused or failed sync leaves no new file behind. Only an empty
      // one goes: a file the sync had filled holds the folder's contacts,
      // and one holding nothing holds nothing the next sync cannot make.
      if (made) try {
          StoreLock lock(s);
          if (env.OpenExisting(path, false)->Size() == 0) {
            env.Remove(path);
            env.SyncDir(s.ProgramDir);
          }
        } catch (const std::exception&) {
          // An empty data file left behind is harmless.
        }
      throw;
    }
    if (!sum.stateProblem.empty()) say("velmora: " + OneLine(sum.stateProblem));
    for (const std::string& line : sum.plan) io.out(OneLine(line) + "\n");
    const std::string slash = dir.back() == '/' ? dir : dir + "/";
    for (const SkippedCard& card : sum.skipped) say(SkippedLine(slash, card));
    say(SummaryLine(fileName, shownDir, c->account, sum, c->options));
    if (sum.tailLeftOut > 0)
      say("velmora: " + TailText(sum.tailLeftOut, fileName, "they were left out"));
    return 0;
  } catch (const SyncRefused& e) {
    return fail(e.what());
  } catch (const ServerError& e) {
    // Its text names the server; nothing of the data file is in question.
    return fail(e.what() + std::string(writesBegan ? kCompletedNext : kNothingChanged));
  } catch (const std::exception& e) {
    const auto* ioError = dynamic_cast<const IoError*>(&e);
    const std::string where =
        ioError && !ioError->path().empty() ? QuotedName(ioError->path()) : fileName;
    return fail((where.empty() ? "" : where + ": ") + e.what() +
                (writesBegan ? kCompletedNext : kNothingChanged));
  }
}

int RunSyncCommand(int argc, char** argv) {
  CommandIo io = ProcessIo();
  std::string dataDir;
  try {
    dataDir = DataDirFor(ExecutableDir());
  } catch (const std::exception& e) {
    // No folder of its own to sync: never the current folder instead.
    io.err(std::string("velmora: ") + e.what());
    return 1;
  }
  const char* home = std::getenv("HOME");
  // The keyring and the network run on Qt's event loops; no display is
  // needed.
  std::optional<QCoreApplication> app;
  if (!QCoreApplication::instance()) app.emplace(argc, argv);
  return RunSyncCommand(std::vector<std::string>(argv + 1, argv + argc), dataDir,
                        home ? std::optional<std::string>(home) : std::nullopt, Env::Posix(), io);
}

}  // namespace velmora
