#include "store/extratext.h"

#include <memory>

#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/ioerror.h"
#include "platform/savefile.h"
#include "platform/text.h"
#include "store/datafile.h"

namespace velmora {
namespace {

// The full path for messages, also for a name that is refused.
std::string ShownPath(Session& s, const std::string& fileName) {
  return s.ProgramDir + Cp1252ToUtf8(fileName);
}

}  // namespace

std::string ViewerTextName(const std::string& name, const std::string& surname) {
  return Trim(name + surname);
}

std::string EditorTextName(const std::string& name, const std::string& surname) { return name + surname; }

std::string CleanupTextName(const std::string& name, const std::string& surname) {
  return UpperCase(Trim(name + surname));
}

bool ExtraTextExists(Session& s, const std::string& fileName) {
  return IsPlainFileName(fileName) && s.env().FileExists(s.PathInProgramDir(fileName));
}

std::string LoadExtraText(Session& s, const std::string& fileName) {
  try {
    if (!IsPlainFileName(fileName)) throw IoError(IoError::kInvalidFilename);
    auto in = s.env().OpenExisting(s.PathInProgramDir(fileName), false);
    std::string bytes(size_t(in->Size()), '\0');
    bytes.resize(in->ReadAt(0, bytes.data(), bytes.size()));
    in->Close();
    return bytes;
  } catch (const IoError&) {
    throw AppError("Cannot open file " + ShownPath(s, fileName));
  }
}

void SaveExtraText(Session& s, const std::string& fileName, const std::string& bytes) {
  std::unique_ptr<SaveFile> out;
  try {
    if (!IsPlainFileName(fileName)) throw IoError(IoError::kInvalidFilename);
    out = std::make_unique<SaveFile>(s.env(), s.ProgramDir, kScratchName, s.PathInProgramDir(fileName));
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
