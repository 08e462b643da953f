#include "sync/command.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/programdir.h"
#include "platform/text.h"
#include "store/filecommands.h"
#include "store/startup.h"
#include "sync/sync.h"

namespace velmora {
namespace {

constexpr char kUsage[] = "usage: velmora --sync DIR [NAME] [--prefer here|there] [--reset]";
// After a failed step: what was written before it (cards, the data file) the
// next sync pairs again and completes.
constexpr char kUnchanged[] = "; nothing is lost: the next sync completes the rest";

struct Command {
  std::string dir;
  std::optional<std::string> name;
  SyncOptions options;
};

std::optional<Command> Parse(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "--sync") return std::nullopt;
  Command c;
  std::vector<std::string> plain;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--reset") {
      c.options.reset = true;
    } else if (args[i] == "--prefer" && i + 1 < args.size() &&
               (args[i + 1] == "here" || args[i + 1] == "there")) {
      c.options.prefer = args[++i] == "here" ? Prefer::kHere : Prefer::kThere;
    } else if (args[i].starts_with("--")) {
      return std::nullopt;
    } else {
      plain.push_back(args[i]);
    }
  }
  if (plain.empty() || plain.size() > 2 || plain[0].empty()) return std::nullopt;
  c.dir = plain[0];
  if (plain.size() == 2) c.name = plain[1];
  return c;
}

std::string Counts(uint64_t added, uint64_t changed, uint64_t deleted) {
  return std::to_string(added) + " added, " + std::to_string(changed) + " changed, " +
         std::to_string(deleted) + " deleted";
}

std::string SummaryLine(const std::string& fileName, const std::string& dir, const SyncSummary& s,
                        Prefer prefer) {
  std::string line = "velmora: " + fileName + " synced with " + dir +
                     (s.firstSync ? " for the first time" : "") + ": " +
                     Counts(s.addedHere, s.changedHere, s.deletedHere) + " in velmora, " +
                     Counts(s.addedThere, s.changedThere, s.deletedThere) + " in the folder";
  if (!s.conflicts.empty()) {
    line += "; " + std::to_string(s.conflicts.size()) +
            (s.conflicts.size() == 1 ? " conflict" : " conflicts") +
            (prefer == Prefer::kBoth   ? ", both versions kept: "
             : prefer == Prefer::kHere ? ", velmora's version kept: "
                                       : ", the folder's version kept: ");
    for (size_t i = 0; i < s.conflicts.size(); ++i) line += (i ? ", " : "") + s.conflicts[i];
  }
  if (!s.skipped.empty())
    line += "; " + std::to_string(s.skipped.size()) + (s.skipped.size() == 1 ? " card" : " cards") +
            " could not be read and " + (s.skipped.size() == 1 ? "was" : "were") + " skipped";
  return line;
}

}  // namespace

bool IsSyncCommand(int argc, char** argv) {
  return argc > 1 && std::strcmp(argv[1], "--sync") == 0;
}

int RunSyncCommand(const std::vector<std::string>& args, const std::string& dataDir, Env& env,
                   const std::function<void(const std::string&)>& err) {
  const std::optional<Command> c = Parse(args);
  if (!c) {
    // A command line that makes no sense: status 2, as for the other commands.
    err(kUsage);
    return 2;
  }
  auto fail = [&](const std::string& what) {
    err("velmora: " + what);
    return 1;
  };
  Session s(env);
  std::string fileName;
  try {
    RunStartUp(s, dataDir);
    for (const std::string& warning : s.StartUpWarnings()) err("velmora: " + warning);
    if (c->name) {
      std::string name = Utf8ToCodePage(*c->name);
      if (CodePageToUtf8(name) != *c->name || !IsPlainFileName(name))
        return fail(*c->name + ": not a data file name");
      const std::string dotExt = "." + s.WorkingExt;
      if (name.size() > dotExt.size() && SameName(name.substr(name.size() - dotExt.size()), dotExt))
        name.resize(name.size() - dotExt.size());
      if (!DataFileExists(s, name))
        return fail("no data file " + CodePageToUtf8(name) + dotExt + " in " + dataDir);
      s.WorkingName = name;
    }
    if (IsSampleFile(s)) return fail(kCannotEditText);
    const std::string path = s.WorkingFilePath();
    fileName = path.substr(path.rfind('/') + 1);
    const SyncSummary sum = SyncWithVdir(s, c->dir, c->options);
    const std::string dir = c->dir.back() == '/' ? c->dir : c->dir + "/";
    if (!sum.stateProblem.empty()) err("velmora: " + sum.stateProblem);
    for (const std::string& skipped : sum.skipped) err("velmora: " + dir + skipped);
    err(SummaryLine(fileName, c->dir, sum, c->options.prefer));
    return 0;
  } catch (const SyncRefused& e) {
    return fail(e.what());
  } catch (const IoError& e) {
    const std::string where = e.path().empty() ? fileName : e.path();
    return fail((where.empty() ? "" : where + ": ") + e.what() + kUnchanged);
  } catch (const std::exception& e) {
    return fail((fileName.empty() ? "" : fileName + ": ") + e.what() + kUnchanged);
  }
}

int RunSyncCommand(int argc, char** argv) {
  auto err = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  std::string dataDir;
  try {
    dataDir = DataDirFor(ExecutableDir());
  } catch (const std::exception& e) {
    // No folder of its own to sync: never the current folder instead.
    err(std::string("velmora: ") + e.what());
    return 1;
  }
  return RunSyncCommand(std::vector<std::string>(argv + 1, argv + argc), dataDir, Env::Posix(),
                        err);
}

}  // namespace velmora
