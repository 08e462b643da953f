#include "support/powercutenv.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace velmora::testing {
namespace {

class PowerCutFile final : public FileWrapper {
 public:
  PowerCutFile(PowerCutEnv& env, std::unique_ptr<File> f, int node)
      : FileWrapper(std::move(f)), env_(env), node_(node) {}

  size_t ReadAt(uint64_t off, void* buf, size_t n) override {
    env_.Call();
    return target().ReadAt(off, buf, n);
  }
  void WriteAt(uint64_t off, const void* buf, size_t n) override {
    env_.Call();
    target().WriteAt(off, buf, n);
  }
  uint64_t Size() override {
    env_.Call();
    return target().Size();
  }
  void Truncate(uint64_t size) override {
    env_.Call();
    target().Truncate(size);
  }
  void Sync() override {
    env_.Call();
    target().Sync();
    if (node_ < 0) return;  // anonymous: gone at the cut anyway
    std::string content(size_t(target().Size()), '\0');
    content.resize(target().ReadAt(0, content.data(), content.size()));
    env_.Synced(node_, std::move(content));
  }
  void Close() override {
    if (env_.cut()) return;  // the machine is off: nothing more happens
    target().Close();
  }

 private:
  PowerCutEnv& env_;
  int node_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

PowerCutEnv::PowerCutEnv(std::string dir) : EnvWrapper(Env::Posix()), dir_(std::move(dir)) {
  Snapshot();
}

void PowerCutEnv::Snapshot() {
  nodes_.clear();
  current_.clear();
  for (const DirEntry& e : target().ListDir(dir_)) {
    if (!e.regular) continue;
    const int id = nextNode_++;
    nodes_[id] = ReadAll(dir_ + e.name);
    current_[e.name] = id;
  }
  durable_ = current_;
}

void PowerCutEnv::Restore() {
  for (const DirEntry& e : target().ListDir(dir_))
    if (e.regular) std::remove((dir_ + e.name).c_str());
  for (const auto& [name, node] : durable_) {
    std::ofstream out(dir_ + name, std::ios::binary);
    out << nodes_[node];
  }
  cutAfter_ = -1;
  calls_ = 0;
  Snapshot();
}

void PowerCutEnv::Call() {
  if (cutAfter_ >= 0 && calls_ >= cutAfter_) {
    ++calls_;
    throw PowerCut{};
  }
  ++calls_;
}

std::string PowerCutEnv::NameOf(const std::string& path) const {
  return path.rfind(dir_, 0) == 0 ? path.substr(dir_.size()) : path;
}

std::unique_ptr<File> PowerCutEnv::Wrap(std::unique_ptr<File> real, int node) {
  return std::make_unique<PowerCutFile>(*this, std::move(real), node);
}

std::unique_ptr<File> PowerCutEnv::OpenExisting(const std::string& path, bool writable) {
  Call();
  auto f = target().OpenExisting(path, writable);
  auto it = current_.find(NameOf(path));
  return Wrap(std::move(f), it == current_.end() ? -1 : it->second);
}

std::unique_ptr<File> PowerCutEnv::CreateNew(const std::string& path) {
  Call();
  auto f = target().CreateNew(path);
  const int node = nextNode_++;
  nodes_[node] = "";
  current_[NameOf(path)] = node;
  return Wrap(std::move(f), node);
}

LinkEnd PowerCutEnv::FollowLinks(const std::string& path) {
  Call();
  return target().FollowLinks(path);
}

std::unique_ptr<File> PowerCutEnv::CreateAnonymous(const std::string& dir) {
  Call();
  return Wrap(target().CreateAnonymous(dir), -1);
}

bool PowerCutEnv::FileExists(const std::string& path) {
  Call();
  return target().FileExists(path);
}

std::unique_ptr<DirLock> PowerCutEnv::LockDir(const std::string& dir, int waitMs) {
  Call();
  return target().LockDir(dir, waitMs);
}

void PowerCutEnv::CheckWritable(const std::string& path) {
  Call();
  target().CheckWritable(path);
}

std::vector<DirEntry> PowerCutEnv::ListDir(const std::string& dir) {
  Call();
  return target().ListDir(dir);
}

void PowerCutEnv::Rename(const std::string& from, const std::string& to) {
  Call();
  target().Rename(from, to);
  const int node = current_.at(NameOf(from));
  current_.erase(NameOf(from));
  current_[NameOf(to)] = node;
}

void PowerCutEnv::Remove(const std::string& path) {
  Call();
  target().Remove(path);
  current_.erase(NameOf(path));
}

void PowerCutEnv::SyncDir(const std::string& dir) {
  Call();
  target().SyncDir(dir);
  durable_ = current_;
}

}  // namespace velmora::testing
