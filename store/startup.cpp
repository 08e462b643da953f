#include "store/startup.h"

#include <cerrno>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/ioerror.h"
#include "platform/profile.h"
#include "platform/savefile.h"
#include "platform/text.h"
#include "store/datafile.h"

namespace velmora {
namespace {

constexpr char kDefaultConfig[] =
    "\r\n"
    "[filenames]\r\n"
    "extention=vlm\r\n"
    "defaultfile=brink\r\n"
    "\r\n";

// The configuration file is read and written under this spelling; letter
// case does not matter on the way to the file.
constexpr char kConfigAccessName[] = "velmora.INI";

// The locale the user's programs run in, as the C library settles it.
std::string UserLocale() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
    if (const char* value = std::getenv(name); value && *value) return value;
  return "C";
}

// The page a configured value names: a number iconv knows as a single-byte
// page.
const CodePage* ConfiguredPage(const std::string& value) {
  if (value.empty() || value.size() > 5 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return nullptr;
  return CodePage::Find(std::stoi(value));
}

void WriteWhole(Session& s, const std::string& name, const void* data, size_t n,
                LinkedTarget linked) {
  StoreLock lock(s);
  SaveFile out(s.env(), s.ProgramDir, kScratchName, s.PathInProgramDir(name), linked);
  out.Append(data, n);
  out.Commit();
}

// A configured name must name a file of the program directory.
bool ReachesOnlyProgramDir(const std::string& name, const std::string& ext) {
  auto clean = [](const std::string& t) {
    return t.find('/') == std::string::npos && t.find('\0') == std::string::npos && t != "..";
  };
  return clean(name) && clean(ext) && IsPlainFileName(name + "." + ext);
}

// Something in the configuration file's place that no file step could use:
// replacing a folder fails with a text that hides the cause, and opening a
// pipe to read it would wait for a writer forever.
void RefuseConfigThatIsNoFile(Session& s) {
  const std::string path = s.PathInProgramDir(kConfigFileName);
  const FileKind kind = s.env().KindOf(path);
  if (kind == FileKind::kFolder) ThrowIoErrorFromErrno(EISDIR, path);
  if (kind == FileKind::kOther) ThrowIoErrorFromErrno(ESPIPE, path);
}

// Steps 4 to 6 of the start: the working file as velmora.ini names it.
void ChooseWorkingFile(Session& s) {
  const std::string config = s.PathInProgramDir(kConfigAccessName);
  s.StartUpWarning.clear();
  s.CodePageProblem.clear();
  if (ProfileTooLarge(s.env(), config)) {
    s.StartUpWarning = TooLargeConfigText(config);
    SetTextCodePage(CodePage::Windows1252());
    s.WorkingName = kSampleName;
    s.WorkingExt = kSampleExt;
    return;
  }
  // The code page first: the notices below spell names in it.
  const std::string page = ReadProfileString(s.env(), config, kCodePageSection, kCodePageKey, "");
  const CodePage* used = page.empty() ? &CodePage::Windows1252() : ConfiguredPage(page);
  if (!used) {
    s.CodePageProblem = "velmora.ini names the code page \"" + page +
                        "\", which velmora cannot use. Texts are read and written in code "
                        "page 1252 (Western European) until codepage= names another.";
    used = &CodePage::Windows1252();
  }
  SetTextCodePage(*used);

  s.WorkingExt = ReadProfileString(s.env(), config, kConfigSection, "extention", "ERROR");
  s.WorkingName = ReadProfileString(s.env(), config, kConfigSection, "defaultfile", "ERROR");
  s.WorkingExt = UpperCaseText(s.WorkingExt);
  s.WorkingName = UpperCaseText(s.WorkingName);

  // The program writes and runs these files for its own ends: records kept
  // under one of their names would be overwritten, or overwrite them.
  const std::string configured = s.WorkingName + "." + s.WorkingExt;
  const bool own = IsProgramFileName(configured);
  if (own)
    s.ConfigNotice = std::string(kConfigFileName) + " names " + CodePageToUtf8(configured) +
                     " as the data file, one of velmora's own files; the sample file is used "
                     "instead.";
  if (own || !ReachesOnlyProgramDir(s.WorkingName, s.WorkingExt) ||
      !s.env().FileExists(s.WorkingFilePath())) {
    s.WorkingName = kSampleName;
    s.WorkingExt = kSampleExt;
  }
}

}  // namespace

void RunStartUp(Session& s, const std::string& programDir) {
  s.ProgramDir = programDir;
  s.ConfigNotice.clear();
  StoreLock lock(s);
  RefuseConfigThatIsNoFile(s);
  WriteSampleFile(s);
  if (!s.env().FileExists(s.PathInProgramDir(kConfigFileName))) CreateConfigFile(s);
  ChooseWorkingFile(s);
}

void LocateWorkingFile(Session& s, const std::string& programDir) {
  s.ProgramDir = programDir;
  s.ConfigNotice.clear();
  RefuseConfigThatIsNoFile(s);
  ChooseWorkingFile(s);
}

ContactRecord SampleRecord() {
  ContactRecord r{};
  r.SetTexts({"BRINK", "SYSTEMS", "(000)555-0147", "(000)555-0182", "Sample entry, do not edit"});
  return r;
}

void WriteSampleFile(Session& s) {
  ContactRecord& r = s.RemovedRecord;
  r = SampleRecord();
  // Rewritten at every start, unasked: a link planted under its name must
  // not carry the sample record into a file elsewhere.
  WriteWhole(s, "brink.vlm", r.bytes.data(), r.bytes.size(), LinkedTarget::kReplaceTheLink);
}

void CreateConfigFile(Session& s) {
  // A file without the key reads as 1252: the key is written only where
  // the locale asks for another page, and the first start under a Western
  // European locale writes the default configuration alone.
  std::string content = kDefaultConfig;
  if (const int page = CodePageForLocale(UserLocale()); page != 1252)
    content += std::string("[") + kCodePageSection + "]\r\n" + kCodePageKey + "=" +
               std::to_string(page) + "\r\n";
  WriteWhole(s, kConfigFileName, content.data(), content.size(), LinkedTarget::kSaveWhereItLeads);
}

void SetDefaultFile(Session& s, const std::string& name) {
  const std::string path = s.PathInProgramDir(kConfigAccessName);
  bool written = false;
  try {
    StoreLock lock(s);
    written = WriteProfileString(s.env(), path, kConfigSection, "defaultfile", name);
  } catch (const IoError&) {
    // Another instance kept the lock: the file was not written either.
  }
  if (!written) throw AppError("Unable to write to " + path);
}

bool IsSampleFile(const Session& s) { return Trim(UpperCase(s.WorkingName)) == kSampleName; }

}  // namespace velmora
