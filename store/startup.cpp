#include "store/startup.h"

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

void WriteWhole(Session& s, const std::string& name, const void* data, size_t n) {
  StoreLock lock(s);
  SaveFile out(s.env(), s.ProgramDir, kScratchName, s.PathInProgramDir(name));
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

}  // namespace

void RunStartUp(Session& s, const std::string& programDir) {
  s.ProgramDir = programDir;
  StoreLock lock(s);
  WriteSampleFile(s);
  if (!s.env().FileExists(s.PathInProgramDir(kConfigFileName))) CreateConfigFile(s);

  const std::string config = s.PathInProgramDir(kConfigAccessName);
  s.StartUpWarning.clear();
  if (ProfileTooLarge(s.env(), config)) {
    s.StartUpWarning = TooLargeConfigText(config);
    s.WorkingName = kSampleName;
    s.WorkingExt = kSampleExt;
    return;
  }
  s.WorkingExt = ReadProfileString(s.env(), config, kConfigSection, "extention", "ERROR");
  s.WorkingName = ReadProfileString(s.env(), config, kConfigSection, "defaultfile", "ERROR");
  s.WorkingExt = UpperCase(s.WorkingExt);
  s.WorkingName = UpperCase(s.WorkingName);

  if (!ReachesOnlyProgramDir(s.WorkingName, s.WorkingExt) ||
      !s.env().FileExists(s.WorkingFilePath())) {
    s.WorkingName = kSampleName;
    s.WorkingExt = kSampleExt;
  }
}

void WriteSampleFile(Session& s) {
  ContactRecord& r = s.RemovedRecord;
  r = ContactRecord{};
  r.SetTexts({"BRINK", "SYSTEMS", "(000)555-0147", "(000)555-0182", "Sample entry, do not edit"});
  WriteWhole(s, "brink.vlm", r.bytes.data(), r.bytes.size());
}

void CreateConfigFile(Session& s) {
  WriteWhole(s, kConfigFileName, kDefaultConfig, sizeof kDefaultConfig - 1);
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
