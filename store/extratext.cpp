#include "store/extratext.h"

#include <memory>

#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/ioerror.h"
#include "platform/readcaps.h"
#include "platform/savefile.h"
#include "platform/text.h"
#include "store/datafile.h"
#include "store/startup.h"

namespace velmora {
namespace {

// The full path for messages, also for a name that is refused.
std::string ShownPath(Session& s, const std::string& fileName) {
  return s.ProgramDir + CodePageToUtf8(fileName);
}

bool EndsWithName(std::string_view name, std::string_view end) {
  return name.size() >= end.size() && SameName(name.substr(name.size() - end.size()), end);
}

}  // namespace

bool HoldsReplacedCharacter(const std::string& fileName) {
  return fileName.find('?') != std::string::npos;
}

bool IsSafeTextName(const Session& s, const std::string& fileName) {
  if (!IsPlainFileName(fileName) || IsProgramFileName(fileName)) return false;
  if (HoldsReplacedCharacter(fileName)) return false;
  return !EndsWithName(fileName, "." + s.WorkingExt) && !EndsWithName(fileName, ".VLM");
}

std::string ViewerTextName(const std::string& name, const std::string& surname) {
  return Trim(name + surname);
}

std::string EditorTextName(const std::string& name, const std::string& surname) {
  return name + surname;
}

std::string CleanupTextName(const std::string& name, const std::string& surname) {
  return UpperCaseText(Trim(name + surname));
}

bool ExtraTextExists(Session& s, const std::string& fileName) {
  return IsSafeTextName(s, fileName) && s.env().FileExists(s.PathInProgramDir(fileName));
}

std::string LoadExtraText(Session& s, const std::string& fileName) {
  try {
    if (!IsSafeTextName(s, fileName)) throw IoError(IoError::kInvalidFilename);
    std::optional<std::string> bytes =
        ReadWholeFile(s.env(), s.PathInProgramDir(fileName), kMaxNoteBytes);
    // Not an IoError, so it passes the catch below unchanged.
    if (!bytes) throw AppError("Failed to Load Stream");
    return std::move(*bytes);
  } catch (const IoError&) {
    throw AppError("Cannot open file " + ShownPath(s, fileName));
  }
}

void SaveExtraText(Session& s, const std::string& fileName, const std::string& bytes) {
  StoreLock lock(s);
  // A read-only note is refused as a write into it would be.
  if (IsSafeTextName(s, fileName)) s.env().CheckWritable(s.PathInProgramDir(fileName));
  std::unique_ptr<SaveFile> out;
  try {
    if (!IsSafeTextName(s, fileName)) throw IoError(IoError::kInvalidFilename);
    out = std::make_unique<SaveFile>(s.env(), s.ProgramDir, kScratchName,
                                     s.PathInProgramDir(fileName));
  } catch (const IoError&) {
    throw AppError("Cannot create file " + ShownPath(s, fileName));
  }
  try {
    out->Append(bytes.data(), bytes.size());
    out->Commit();
  } catch (const IoError&) {
    throw AppError("Failed to Save Stream");
  }
}

}  // namespace velmora
