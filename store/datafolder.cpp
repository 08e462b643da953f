#include "store/datafolder.h"

#include "platform/savefile.h"
#include "platform/text.h"

namespace velmora {
namespace {

// A marker holds one path and a line end; a path is at most PATH_MAX bytes.
constexpr size_t kMaxMarkerBytes = 8192;

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string StateName(const std::string& fileName) { return "." + fileName + kSyncStateEnding; }

}  // namespace

bool IsProgramFileName(std::string_view fileName) {
  for (const char* own : {kConfigFileName, kScratchName, "velmora", "velmora.exe", "tolka",
                          "tolka.exe", kVdirMarkerName})
    if (SameName(fileName, own)) return true;
  const std::string_view ending = kSyncStateEnding;
  const bool state = fileName.size() > ending.size() + 1 && fileName[0] == '.' &&
                     SameName(fileName.substr(fileName.size() - ending.size()), ending);
  return state || (fileName.size() >= 4 && SameName(fileName.substr(0, 4), "hlp#"));
}

std::string SyncStatePath(const Session& s) {
  return s.ProgramDir + StateName(BaseName(s.WorkingFilePath()));
}

void ForgetSyncStates(Session& s, const std::string& fileName) {
  StoreLock lock(s);
  const std::string wanted = StateName(fileName);
  bool removed = false;
  for (const DirEntry& e : s.env().ListDir(s.ProgramDir)) {
    if (!SameName(e.name, wanted)) continue;
    s.env().Remove(s.ProgramDir + e.name);
    removed = true;
  }
  // Durable before the new file can be: a crash must never bring the state
  // back beside it.
  if (removed) s.env().SyncDir(s.ProgramDir);
}

void MoveSyncState(Session& s, const std::string& from, const std::string& to) {
  const std::string source = s.ProgramDir + StateName(from);
  const std::string target = s.ProgramDir + StateName(to);
  if (source == target) return;
  const LinkEnd end = s.env().FollowLinks(source);
  if (end.path == source && end.kind == FileKind::kMissing) return;
  s.env().Rename(source, target);
}

void RefuseOddCompanion(Env& env, const std::string& path, bool linkAllowed) {
  const LinkEnd end = env.FollowLinks(path);
  if (end.path != path) {
    if (linkAllowed) return;
    throw SyncRefused(path +
                      " is a link, which the sync does not follow; --reset replaces the link");
  }
  if (end.kind == FileKind::kFolder || end.kind == FileKind::kOther)
    throw SyncRefused(path + " is not a regular file; the sync neither reads nor replaces it");
}

std::optional<std::string> ReadVdirMarker(Env& env, const std::string& vdir) {
  const std::string path = vdir + kVdirMarkerName;
  RefuseOddCompanion(env, path, false);
  if (!env.FileExists(path)) return std::nullopt;
  // Never through a link planted since the look above.
  auto in = env.OpenNoFollow(path);
  std::string text(kMaxMarkerBytes + 1, '\0');
  text.resize(in->ReadAt(0, text.data(), text.size()));
  in->Close();
  return text;
}

void WriteVdirMarker(Env& env, const std::string& vdir, const std::string& dataPath) {
  SaveFile out(env, vdir,
               std::string(kVdirScratchPrefix) + "marker" + std::string(kVdirScratchEnding),
               vdir + kVdirMarkerName, LinkedTarget::kReplaceTheLink);
  out.Append(dataPath.data(), dataPath.size());
  out.Append("\n", 1);
  out.Commit();
}

}  // namespace velmora
