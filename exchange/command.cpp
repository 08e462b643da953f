#include "exchange/command.h"

#include <unistd.h>

#include <QChar>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "exchange/csv.h"
#include "exchange/exchange.h"
#include "exchange/vcard.h"
#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/programdir.h"
#include "platform/text.h"
#include "store/filecommands.h"
#include "store/startup.h"

namespace velmora {
namespace {

constexpr char kUsage[] =
    "usage: velmora --export vcard|csv [NAME]  or  velmora --import vcard|csv FILE [NAME]";

// A name the name entry of FILE NEW would accept: up to twelve letters or
// digits of the code page.
bool IsNewDataFileName(const std::string& name) {
  if (name.empty() || name.size() > 12) return false;
  for (char c : name)
    if (!QChar(Cp1252ToUnicode(static_cast<unsigned char>(c))).isLetterOrNumber()) return false;
  return true;
}

std::string WithCommas(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string Count(uint64_t n, const char* one, const char* many) {
  return WithCommas(n) + " " + (n == 1 ? one : many);
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

struct Command {
  bool import = false;
  ExchangeFormat format = ExchangeFormat::kVcard;
  std::string file;  // import only
  std::optional<std::string> name;
};

std::optional<Command> Parse(const std::vector<std::string>& args) {
  if (args.size() < 2) return std::nullopt;
  Command c;
  c.import = args[0] == "--import";
  if (!c.import && args[0] != "--export") return std::nullopt;
  if (SameName(args[1], "vcard"))
    c.format = ExchangeFormat::kVcard;
  else if (SameName(args[1], "csv"))
    c.format = ExchangeFormat::kCsv;
  else
    return std::nullopt;
  size_t next = 2;
  if (c.import) {
    if (args.size() < 3) return std::nullopt;
    c.file = args[next++];
  }
  if (next < args.size()) c.name = args[next++];
  if (next < args.size()) return std::nullopt;
  return c;
}

}  // namespace

bool IsExchangeCommand(int argc, char** argv) {
  return argc > 1 &&
         (std::strcmp(argv[1], "--export") == 0 || std::strcmp(argv[1], "--import") == 0);
}

int RunExchangeCommand(const std::vector<std::string>& args, const std::string& dataDir, Env& env,
                       CommandIo& io) {
  const std::optional<Command> c = Parse(args);
  if (!c) {
    io.err(kUsage);
    return 1;
  }
  auto fail = [&](const std::string& what) {
    io.err("velmora: " + what + (c->import ? "; nothing was imported" : ""));
    return 1;
  };

  Session s(env);
  std::string fileName;  // the data file, for messages
  try {
    RunStartUp(s, dataDir);
    if (!s.StartUpWarning.empty()) io.err("velmora: " + s.StartUpWarning);
    bool exists = true;
    if (c->name) {
      std::string name = Utf8ToCp1252(*c->name);
      // A name that does not survive the code page, or that reaches out of
      // the folder, names no data file.
      if (Cp1252ToUtf8(name) != *c->name || !IsPlainFileName(name))
        return fail(*c->name + ": not a data file name");
      const std::string dotExt = "." + s.WorkingExt;
      if (name.size() > dotExt.size() && SameName(name.substr(name.size() - dotExt.size()), dotExt))
        name.resize(name.size() - dotExt.size());
      exists = DataFileExists(s, name);
      if (!exists && (!c->import || !IsNewDataFileName(name)))
        return fail(c->import ? *c->name +
                                    ": no such data file, and a new one is named by up to "
                                    "12 letters or digits"
                              : "no data file " + Cp1252ToUtf8(name) + dotExt + " in " + dataDir);
      s.WorkingName = name;
    }
    // As the file is spelled on disk.
    const std::string path = s.WorkingFilePath();
    fileName = path.substr(path.rfind('/') + 1);

    if (!c->import) {
      const ExportSummary sum = ExportEntries(s, c->format, io.out);
      std::string line =
          "velmora: " + Count(sum.entries, "entry", "entries") + " exported from " + fileName;
      if (sum.extraTexts > 0)
        line += ", " + Count(sum.extraTexts, "extra text", "extra texts") + " among them";
      if (sum.extraTextsFailed > 0)
        line += "; " + Count(sum.extraTextsFailed, "extra text", "extra texts") +
                " could not be read and " + (sum.extraTextsFailed == 1 ? "was" : "were") +
                " left out";
      io.err(line);
      return 0;
    }

    if (IsSampleFile(s)) {
      io.err(std::string("velmora: ") + kCannotEditText);
      return 1;
    }
    ByteSource source = io.in;
    if (c->file != "-") {
      try {
        source = FileSource(std::shared_ptr<File>(env.OpenExisting(c->file, false)), c->file);
      } catch (const AppError& e) {
        return fail(c->file + ": " + e.what());
      }
    }
    std::unique_ptr<EntryReader> reader;
    if (c->format == ExchangeFormat::kVcard)
      reader = std::make_unique<VcardReader>(std::move(source));
    else
      reader = std::make_unique<CsvReader>(std::move(source));
    ImportSummary sum;
    try {
      sum = ImportEntries(s, *reader, !exists);
    } catch (const FormatError& e) {
      return fail((c->file == "-" ? std::string("standard input") : c->file) + ", " + e.what());
    }
    io.err("velmora: " + Count(sum.added, "entry", "entries") + " added to " + fileName + "; " +
           Count(sum.counts.fieldsCut, "field", "fields") + " cut to size, " +
           Count(sum.counts.charsReplaced, "character", "characters") + " replaced by \"?\"");
    return 0;
  } catch (const InputError& e) {
    return fail(e.what());
  } catch (const std::exception& e) {
    return fail((fileName.empty() ? std::string() : fileName + ": ") + e.what());
  }
}

int RunExchangeCommand(int argc, char** argv) {
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
  return RunExchangeCommand(std::vector<std::string>(argv + 1, argv + argc),
                            DataDirFor(ExecutableDir()), Env::Posix(), io);
}

}  // namespace velmora
