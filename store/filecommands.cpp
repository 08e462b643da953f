#include "store/filecommands.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/ioerror.h"
#include "platform/savefile.h"
#include "platform/text.h"
#include "store/datafile.h"
#include "store/datafolder.h"
#include "store/startup.h"

namespace velmora {
namespace {

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

std::vector<std::string> ListDataFiles(Session& s) {
  std::vector<std::string> out;
  for (const DirEntry& e : s.env().ListDir(s.ProgramDir)) {
    if (!e.regular || e.name.empty() || e.name[0] == '.') continue;
    size_t dot = e.name.rfind('.');
    if (dot == std::string::npos) continue;
    std::string name = Utf8ToCodePage(e.name);
    // A name that does not come back unchanged (not UTF-8, or holding a
    // character outside the code page) would be shown with "?" in it, and
    // OPEN or DELETE would then act on a name that is not the file's.
    if (CodePageToUtf8(name) != e.name || IsProgramFileName(name)) continue;
    if (SameText(Utf8ToCodePage(e.name.substr(dot + 1)), s.WorkingExt)) out.push_back(name);
  }
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    std::string ua = UpperCaseText(a), ub = UpperCaseText(b);
    return ua != ub ? ua < ub : a < b;
  });
  return out;
}

std::string DataFilePath(Session& s, const std::string& name) {
  const std::string fileName = name + "." + s.WorkingExt;
  if (IsProgramFileName(fileName))
    throw IoError(IoError::kInvalidFilename, s.ProgramDir + CodePageToUtf8(fileName));
  return s.PathInProgramDir(fileName);
}

bool DataFileExists(Session& s, const std::string& name) {
  return s.env().FileExists(DataFilePath(s, name));
}

void CopyFileReplacing(Session& s, const std::string& from, const std::string& to) {
  StoreLock lock(s);
  const std::string source = s.PathInProgramDir(from);
  const std::string target = s.PathInProgramDir(to);
  auto in = s.env().OpenExisting(source, false);
  // Reading the source whole before the target is replaced makes a copy onto
  // itself harmless; skipping it saves the work.
  if (source == target) {
    in->Close();
    return;
  }
  SaveFile out(s.env(), s.ProgramDir, kScratchName, target);
  std::vector<char> buf(1u << 20);
  for (uint64_t at = 0;;) {
    size_t got = in->ReadAt(at, buf.data(), buf.size());
    if (got == 0) break;
    out.Append(buf.data(), got);
    at += got;
  }
  in->Close();
  // Only once the copy is whole: a copy that fails keeps the target's state.
  ForgetSyncStates(s, BaseName(target));
  out.Commit();
}

void RenameFileReplacing(Session& s, const std::string& from, const std::string& to) {
  StoreLock lock(s);
  const std::string source = s.PathInProgramDir(from);
  const std::string replaced = s.PathInProgramDir(to);  // an existing file in any case
  const std::string wanted = s.ProgramDir + CodePageToUtf8(to);
  // The replacing rename is the one step that matters; fixing the spelling
  // afterwards never leaves two files or none. The state goes after the
  // file: killed between the two, the file stands without a state, which is
  // safe, and the state left under the old name is removed by whatever
  // makes a file of that name.
  if (replaced != source) {
    ForgetSyncStates(s, BaseName(replaced));
    s.env().Rename(source, replaced);
  }
  if (replaced != wanted) s.env().Rename(replaced, wanted);
  try {
    MoveSyncState(s, BaseName(source), BaseName(wanted));
  } catch (const IoError&) {
    // The file is renamed and the command done: a state that stays behind
    // only makes its next sync a first one.
  }
  s.env().SyncDir(s.ProgramDir);
}

void DeleteDataFile(Session& s, const std::string& entry) {
  StoreLock lock(s);
  auto listed = ListDataFiles(s);
  if (std::find(listed.begin(), listed.end(), entry) == listed.end())
    throw IoError(IoError::kFileNotFound, s.ProgramDir + CodePageToUtf8(entry));
  // The state first: a state outliving its file would meet the next file of
  // that name.
  ForgetSyncStates(s, CodePageToUtf8(entry));
  s.env().Remove(s.ProgramDir + CodePageToUtf8(entry));
  s.env().SyncDir(s.ProgramDir);
}

}  // namespace velmora
