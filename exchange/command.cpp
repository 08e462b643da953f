#include "exchange/command.h"

#include <unistd.h>

#include <QChar>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "exchange/csv.h"
#include "exchange/exchange.h"
#include "exchange/vcard.h"
#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/ioerror.h"
#include "platform/programdir.h"
#include "platform/savefile.h"
#include "platform/text.h"
#include "store/datafile.h"
#include "store/datafolder.h"
#include "store/filecommands.h"
#include "store/startup.h"

namespace velmora {
namespace {

// A name the name entry of FILE NEW would accept: up to twelve letters or
// digits of the code page, a character of several bytes counting once.
bool IsNewDataFileName(const std::string& name) {
  const CodePage& page = TextCodePage();
  QString chars;
  if (page.IsMultiByte()) {
    chars = page.Decode(name);
  } else {
    for (char c : name) chars += QChar(page.ToUnicode(static_cast<unsigned char>(c)));
  }
  return !chars.isEmpty() && chars.size() <= 12 &&
         std::all_of(chars.begin(), chars.end(), [](QChar c) { return c.isLetterOrNumber(); });
}

std::string WithCommas(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// A failure of the input, told with the input's name.
class InputError : public AppError {
 public:
  using AppError::AppError;
};

// An input file read from start to end, whatever its size.
ByteSource FileSource(std::shared_ptr<File> file, const std::string& path) {
  return [file, path, at = uint64_t(0)](char* buf, size_t n) mutable {
    try {
      const size_t got = file->ReadAt(at, buf, n);
      at += got;
      return got;
    } catch (const IoError& e) {
      throw InputError(path + ": " + e.what());
    }
  };
}

enum class Action { kWindows, kHelp, kVersion, kExport, kImport };

struct CommandLine {
  Action action = Action::kWindows;
  const char* actionName = nullptr;
  std::vector<std::string> operands;  // the action's
  int waitSeconds = 60;
};

// Sets what a setting option gives; an error text, or empty.
using Setter = std::string (*)(CommandLine&, const std::string& operand);

std::string SetWait(CommandLine& c, const std::string& operand) {
  // Up to a day: a lock held longer than that is no turn worth waiting for.
  constexpr int kMaxWaitSeconds = 24 * 60 * 60;
  if (operand.empty() || operand.size() > 5 ||
      operand.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(operand) > kMaxWaitSeconds)
    return "--wait takes a number of seconds up to " + std::to_string(kMaxWaitSeconds) +
           ", not \"" + operand + "\"";
  c.waitSeconds = std::stoi(operand);
  return {};
}

// Every option, one row each: its operands as the usage shows them and how
// many it takes, then either the action it asks for or the setting it makes.
struct Option {
  const char* name;
  const char* operands;
  size_t minOperands, maxOperands;
  Action action;  // kWindows for a setting
  Setter set;     // settings only
  const char* what;
};
constexpr Option kOptions[] = {
    {"--export", "vcard|csv [NAME]", 1, 2, Action::kExport, nullptr,
     "writes the entries of data file NAME (default: the one opened at start) to standard "
     "output"},
    {"--import", "vcard|csv FILE [NAME]", 2, 3, Action::kImport, nullptr,
     "adds the entries of FILE (\"-\": standard input) to data file NAME, made when missing"},
    {"--wait", "SECONDS", 1, 1, Action::kWindows, SetWait,
     "how long an import waits while another velmora uses the data folder (default 60)"},
    {"--help", "", 0, 0, Action::kHelp, nullptr, "shows this text"},
    {"--version", "", 0, 0, Action::kVersion, nullptr, "shows the version"},
};

std::string UsageText() {
  std::string text = "usage: velmora [OPTION...]; without options it opens its windows\n";
  for (const Option& o : kOptions)
    text += std::string("  ") + o.name + (*o.operands ? " " : "") + o.operands + "\n      " +
            o.what + "\n";
  // The sync has a command line of its own, which it reads when --sync
  // comes first.
  text +=
      "  --sync DIR [NAME] [--prefer here|there] [--reset] [--dry-run] [--allow-empty]\n"
      "      keeps data file NAME (made when missing) and the vCard folder DIR in step,\n"
      "      both ways\n"
      "  --sync --account [--prefer here|there] [--reset] [--dry-run] [--allow-empty]\n"
      "      the same with the CardDAV account set up in the window\n";
  text.pop_back();
  return text;
}

bool LooksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// The arguments read against kOptions; an error text when they make no sense.
std::string Parse(const std::vector<std::string>& args, CommandLine& c) {
  const char* setting = nullptr;  // the last setting given
  for (size_t i = 0; i < args.size();) {
    const std::string& arg = args[i++];
    const Option* o = nullptr;
    for (const Option& candidate : kOptions)
      if (arg == candidate.name) o = &candidate;
    if (!o)
      return LooksLikeOption(arg) ? "unknown option \"" + arg + "\""
                                  : "unexpected argument \"" + arg + "\"";
    std::vector<std::string> operands;
    while (i < args.size() && operands.size() < o->maxOperands && !LooksLikeOption(args[i]))
      operands.push_back(args[i++]);
    if (operands.size() < o->minOperands) return std::string(o->name) + " takes " + o->operands;
    if (o->set) {
      setting = o->name;
      if (std::string error = o->set(c, operands[0]); !error.empty()) return error;
      continue;
    }
    if (c.action != Action::kWindows)
      return std::string(c.actionName) + " and " + o->name + " do not go together";
    c.action = o->action;
    c.actionName = o->name;
    c.operands = std::move(operands);
  }
  if (setting && c.action == Action::kWindows)
    return std::string(setting) + " goes with a command such as --import";
  return {};
}

struct Exchange {
  bool import = false;
  ExchangeFormat format = ExchangeFormat::kVcard;
  std::string file;  // import only
  std::optional<std::string> name;
};

bool FormatOf(const std::string& arg, ExchangeFormat& format) {
  if (SameName(arg, "vcard"))
    format = ExchangeFormat::kVcard;
  else if (SameName(arg, "csv"))
    format = ExchangeFormat::kCsv;
  else
    return false;
  return true;
}

// The error's text with the name of its file in front, unless it names it
// already; without a name, the path of the step that failed, if known.
std::string About(const std::string& name, const std::exception& e) {
  const auto* io = dynamic_cast<const IoError*>(&e);
  const std::string path = io ? io->path() : std::string();
  if (!path.empty() && std::string_view(e.what()).find(path) != std::string::npos) return e.what();
  if (!name.empty()) return name + ": " + e.what();
  return path.empty() ? e.what() : path + ": " + e.what();
}

int RunExchange(const Exchange& c, int waitSeconds, const std::string& dataDir, Env& env,
                CommandIo& io) {
  auto fail = [&](const std::string& what) {
    io.err("velmora: " + what + (c.import ? "; nothing was imported" : ""));
    return 1;
  };

  Session s(env);
  std::string fileName;  // the data file, for messages
  try {
    if (c.import) {
      // Waiting its turn, as a user at the terminal would want; told once,
      // so that a long wait is not taken for a hang.
      s.lockWaitMs = waitSeconds * 1000;
      s.onLockBusy = [&] {
        io.err("velmora: the data folder " + dataDir +
               " is busy: another velmora is using it; waiting up to " +
               std::to_string(waitSeconds) + " s");
      };
      RunStartUp(s, dataDir);
    } else {
      LocateWorkingFile(s, dataDir);
    }
    for (const std::string& warning : s.StartUpWarnings()) io.err("velmora: " + warning);
    bool exists = true;
    if (c.name)
      if (const auto why = ChooseDataFile(s, *c.name, c.import, exists)) return fail(*why);
    // As the file is spelled on disk.
    const std::string path = s.WorkingFilePath();
    fileName = path.substr(path.rfind('/') + 1);
    // A copy cut short: told once, after the whole records went through.
    auto tailLine = [&](uint64_t bytes, const char* fate) {
      if (bytes > 0) io.err("velmora: " + TailText(bytes, fileName, fate));
    };

    if (!c.import) {
      const ExportSummary sum = ExportEntries(s, c.format, io.out);
      std::string line =
          "velmora: " + CountOf(sum.entries, "entry", "entries") + " exported from " + fileName;
      if (sum.extraTexts > 0)
        line += ", " + CountOf(sum.extraTexts, "extra text", "extra texts") + " among them";
      if (sum.extraTextsFailed > 0)
        line += "; " + CountOf(sum.extraTextsFailed, "extra text", "extra texts") +
                " could not be read and " + (sum.extraTextsFailed == 1 ? "was" : "were") +
                " left out";
      io.err(line);
      tailLine(sum.tailLeftOut, "they were left out");
      return 0;
    }

    if (IsSampleFile(s)) {
      io.err(std::string("velmora: ") + kCannotEditText);
      return 1;
    }
    const std::string input = c.file == "-" ? std::string("standard input") : c.file;
    ByteSource source = io.in;
    if (c.file != "-") {
      try {
        source = FileSource(std::shared_ptr<File>(env.OpenExisting(c.file, false)), c.file);
      } catch (const AppError& e) {
        return fail(About(c.file, e));
      }
    }
    std::unique_ptr<EntryReader> reader;
    if (c.format == ExchangeFormat::kVcard)
      reader = std::make_unique<VcardReader>(std::move(source));
    else
      reader = std::make_unique<CsvReader>(std::move(source));
    ImportSummary sum;
    try {
      sum = ImportEntries(s, *reader, !exists);
    } catch (const FormatError& e) {
      return fail(input + ", " + e.what());
    }
    if (!exists && sum.added == 0) {
      io.err("velmora: " + input + " holds no entries, so no data file " + fileName + " was made");
      return 0;
    }
    std::string line =
        "velmora: " + CountOf(sum.added, "entry", "entries") + " added to " + fileName + "; " +
        CountOf(sum.counts.fieldsCut, "field", "fields") + " cut to size, " +
        CountOf(sum.counts.charsReplaced, "character", "characters") + " replaced by \"?\"";
    if (sum.skipped > 0)
      line += "; " + CountOf(sum.skipped, "entry", "entries") +
              " skipped: no name, surname, phone or comments";
    io.err(line);
    tailLine(sum.tailDropped, "they were dropped");
    return 0;
  } catch (const InputError& e) {
    return fail(e.what());
  } catch (const FolderBusyError&) {
    return fail("the data folder " + dataDir + " is still busy after " +
                std::to_string(waitSeconds) + " s");
  } catch (const std::bad_alloc&) {
    return fail(kOutOfMemoryText);
  } catch (const std::exception& e) {
    return fail(About(fileName, e));
  }
}

// Runs what the command line asks for, bar the windows.
int Run(const CommandLine& c, const DataDirSource& dataDir, Env& env, CommandIo& io) {
  switch (c.action) {
    case Action::kWindows: return kStartWindows;
    case Action::kVersion: io.out(std::string("velmora ") + VELMORA_VERSION + "\n"); return 0;
    case Action::kHelp: {
      std::string where;
      try {
        where = "its data files lie in " + dataDir(false);
      } catch (const AppError& e) {
        where = e.what();
      }
      io.out("velmora, a personal address book; " + where + "\n" + UsageText() + "\n");
      return 0;
    }
    case Action::kExport:
    case Action::kImport: break;
  }
  Exchange e;
  e.import = c.action == Action::kImport;
  if (!FormatOf(c.operands[0], e.format)) {
    io.err("velmora: " + c.operands[0] + " is no format velmora knows: vcard or csv");
    io.err(UsageText());
    return 2;
  }
  size_t next = 1;
  if (e.import) e.file = c.operands[next++];
  if (next < c.operands.size()) e.name = c.operands[next];
  std::string dir;
  try {
    // Only an import may need the folder made; an export leaves no trace.
    dir = dataDir(e.import);
  } catch (const AppError& error) {
    io.err(std::string("velmora: ") + error.what());
    return 1;
  }
  return RunExchange(e, c.waitSeconds, dir, env, io);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, const DataDirSource& dataDir, Env& env,
                   CommandIo& io) {
  CommandLine c;
  if (const std::string error = Parse(args, c); !error.empty()) {
    io.err("velmora: " + error);
    io.err(UsageText());
    return 2;
  }
  return Run(c, dataDir, env, io);
}

int RunExchangeCommand(const std::vector<std::string>& args, const std::string& dataDir, Env& env,
                       CommandIo& io) {
  return RunCommandLine(
      args, [&](bool) { return dataDir; }, env, io);
}

CommandIo ProcessIo() {
  CommandIo io;
  io.out = [](std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0)
        throw AppError(std::string("cannot write to standard output: ") + std::strerror(errno));
      bytes.remove_prefix(size_t(n));
    }
  };
  io.err = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  io.in = [](char* buf, size_t n) -> size_t {
    for (;;) {
      const ssize_t got = ::read(STDIN_FILENO, buf, n);
      if (got >= 0) return size_t(got);
      if (errno != EINTR) throw InputError(std::string("standard input: ") + std::strerror(errno));
    }
  };
  return io;
}

int RunCommandLine(int argc, char** argv) {
  CommandIo io = ProcessIo();
  return RunCommandLine(
      std::vector<std::string>(argv + 1, argv + argc),
      [](bool create) { return DataDirFor(ExecutableDir(), create); }, Env::Posix(), io);
}

std::optional<std::string> ChooseDataFile(Session& s, const std::string& utf8Name, bool mayMake,
                                          bool& exists) {
  std::string name = Utf8ToCodePage(utf8Name);
  // A name that does not survive the code page, or that reaches out of the
  // folder, names no data file.
  if (CodePageToUtf8(name) != utf8Name || !IsPlainFileName(name))
    return utf8Name + ": not a data file name";
  const std::string dotExt = "." + s.WorkingExt;
  if (name.size() > dotExt.size() && SameName(name.substr(name.size() - dotExt.size()), dotExt))
    name.resize(name.size() - dotExt.size());
  const std::string path = DataFilePath(s, name);
  const FileKind kind = s.env().KindOf(path);
  if (kind == FileKind::kFolder) return path + " is a folder, not a data file";
  if (kind == FileKind::kOther) return path + " is a pipe or a device, not a data file";
  exists = kind == FileKind::kRegular;
  if (!exists && !mayMake)
    return "no data file " + CodePageToUtf8(name) + dotExt + " in " + s.ProgramDir;
  if (!exists && !IsNewDataFileName(name))
    return utf8Name + ": no such data file, and a new one is named by up to 12 letters or digits";
  s.WorkingName = name;
  return std::nullopt;
}

void MakeEmptyDataFile(Session& s) {
  StoreLock lock(s);
  const std::string path = s.WorkingFilePath();
  if (s.env().KindOf(path) != FileKind::kMissing) return;
  // A state an earlier file of this name left must not take the new file's
  // emptiness for every contact deleted.
  ForgetSyncStates(s, path.substr(path.rfind('/') + 1));
  // Through a scratch file, as every data file is written: the name holds
  // a whole file or none.
  SaveFile(s.env(), s.ProgramDir, kScratchName, path).Commit();
}

std::string CountOf(uint64_t n, const char* one, const char* many) {
  return WithCommas(n) + " " + (n == 1 ? one : many);
}

std::string TailText(uint64_t bytes, const std::string& fileName, const char* fate) {
  return "the last " + CountOf(bytes, "byte", "bytes") + " of " + fileName +
         " made no whole entry; " + fate;
}

}  // namespace velmora
