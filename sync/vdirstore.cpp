#include "sync/vdirstore.h"

#include <unistd.h>

#include <cerrno>

#include "platform/ioerror.h"
#include "store/datafolder.h"

namespace velmora {
namespace {

// Up to this many cards written in one sync are each synced on their own.
constexpr size_t kCardsSyncedEach = 256;
// Cards written, made durable and renamed together: a bound on the scratch
// files that lie in the vdir at once. Large, since a file made after a
// rename freed an old card's inode costs ext4 a search past every inode
// freed in the last seconds: a full rewrite in small chunks took four times
// a first sync.
constexpr size_t kCardsPerChunk = 65536;
constexpr int kFreshNameTries = 100;

constexpr std::string_view kScratchPrefix = kVdirScratchPrefix;
constexpr std::string_view kScratchEnding = kVdirScratchEnding;

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

CardStamp StampOf(const NameInfo& info) { return {info.mtimeNs, info.size, info.inode}; }

}  // namespace

VdirStore::VdirStore(Env& env, std::string dir) : env_(env), dir_(std::move(dir)) {}

VdirStore::~VdirStore() {
  for (Staged& p : puts_) {
    p.file.reset();
    try {
      if (!p.scratch.empty()) env_.Remove(p.scratch);
    } catch (const IoError&) {
      // The next sync removes it: no one reads a scratch file.
    }
  }
}

std::vector<CardListing> VdirStore::List() {
  std::vector<CardListing> out;
  const std::optional<NameInfo> folder = env_.LookUp(dir_);
  if (!folder) return out;  // made when the first card is written
  if (folder->kind != FileKind::kFolder) ThrowIoErrorFromErrno(ENOTDIR, dir_);
  env_.CheckFolderUsable(dir_);
  for (DirEntry& e : env_.ListDir(dir_)) {
    if (e.name.starts_with(".") || !EndsWith(e.name, ".vcf")) continue;
    const std::optional<NameInfo> info = env_.LookUp(dir_ + e.name);
    if (!info) continue;  // gone since the listing
    out.push_back({std::move(e.name), StampOf(*info),
                   info->link                         ? "a link, which is never followed"
                   : info->kind != FileKind::kRegular ? "not a regular file"
                                                      : ""});
  }
  return out;
}

std::string VdirStore::Get(const std::string& name, uint64_t cap) {
  auto in = env_.OpenNoFollow(dir_ + name);
  const uint64_t size = in->Size();
  if (size > cap) throw AppError("larger than " + std::to_string(cap >> 20) + " MiB");
  std::string bytes(size_t(size), '\0');
  bytes.resize(in->ReadAt(0, bytes.data(), bytes.size()));
  in->Close();
  return bytes;
}

void VdirStore::BeginWrites(size_t puts) {
  batch_ = puts > kCardsSyncedEach;
  MakeMissingFolders();
  RemoveStaleScratchFiles();
}

void VdirStore::MakeMissingFolders() {
  // From the first folder that exists down; one made meanwhile by another
  // process is as good.
  std::vector<std::string> missing;
  for (std::string at = dir_; at.size() > 1 && !env_.LookUp(at);
       at = at.substr(0, at.rfind('/', at.size() - 2) + 1))
    missing.push_back(at);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    try {
      env_.MakeFolder(*it);
    } catch (const IoError& e) {
      if (e.err() != EEXIST) throw;
    }
  }
}

void VdirStore::RemoveStaleScratchFiles() {
  for (const DirEntry& e : env_.ListDir(dir_)) {
    if (e.name.starts_with(kScratchPrefix) && EndsWith(e.name, kScratchEnding)) {
      try {
        env_.Remove(dir_ + e.name);
      } catch (const IoError&) {
        // A leftover that stays is harmless: no one reads it.
      }
    }
  }
}

void VdirStore::Put(const std::string& name, std::string_view bytes,
                    const std::optional<CardStamp>& expected, Done done) {
  Staged p{name, {}, nullptr, expected, std::move(done)};
  // A name that is taken, by anything at all, is left as it is.
  const std::string stem = dir_ + std::string(kScratchPrefix) + std::to_string(::getpid()) + "-";
  for (int tries = 1;; ++tries) {
    p.scratch = stem + std::to_string(scratchCount_++) + std::string(kScratchEnding);
    try {
      p.file = env_.CreateNew(p.scratch);
      break;
    } catch (const IoError& e) {
      if (e.err() != EEXIST || tries == kFreshNameTries) throw;
    }
  }
  puts_.push_back(std::move(p));
  Staged& s = puts_.back();
  s.file->WriteAt(0, bytes.data(), bytes.size());
  // A card keeps its permissions; only a regular file's are taken, as the
  // listing saw it.
  if (expected) s.file->TakeModeOf(dir_ + name);
  if (batch_) {
    s.file->Close();
    s.file.reset();
  }
  if (puts_.size() == kCardsPerChunk) CommitPuts();
}

void VdirStore::Delete(const std::string& name, const CardStamp& expected, Done done) {
  deletes_.push_back({name, {}, nullptr, expected, std::move(done)});
}

bool VdirStore::Unchanged(const std::string& name, const std::optional<CardStamp>& expected) {
  const std::optional<NameInfo> now = env_.LookUp(dir_ + name);
  if (!expected) return !now;
  return now && !now->link && now->kind == FileKind::kRegular && StampOf(*now) == *expected;
}

void VdirStore::CommitPuts() {
  if (batch_ && !puts_.empty()) env_.SyncFileSystem(dir_);
  for (Staged& p : puts_) {
    if (p.file) {
      p.file->Sync();
      p.file->Close();
      p.file.reset();
    }
    // The last look before the rename: a card changed since the listing
    // stays as its writer left it.
    if (!Unchanged(p.name, p.expected)) {
      const std::string scratch = std::move(p.scratch);
      p.scratch.clear();
      try {
        env_.Remove(scratch);
      } catch (const IoError&) {
        // Removed by the next sync.
      }
      p.done(false, {});
      continue;
    }
    env_.Rename(p.scratch, dir_ + p.name);
    p.scratch.clear();
    const std::optional<NameInfo> now = env_.LookUp(dir_ + p.name);
    p.done(true, now ? StampOf(*now) : CardStamp{});
  }
  puts_.clear();
}

void VdirStore::Flush() {
  CommitPuts();
  for (Staged& d : deletes_) {
    if (!Unchanged(d.name, d.expected)) {
      d.done(false, {});
      continue;
    }
    try {
      env_.Remove(dir_ + d.name);
    } catch (const IoError& e) {
      if (e.err() != ENOENT) throw;
    }
    d.done(true, {});
  }
  deletes_.clear();
  env_.SyncDir(dir_);
}

}  // namespace velmora
