#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/env.h"
#include "platform/ioerror.h"

namespace velmora {
namespace {

constexpr int kLockPollMs = 10;
constexpr int kMaxLinkHops = 40;  // as the kernel allows in one path

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  size_t ReadAt(uint64_t offset, void* buf, size_t n) override {
    auto* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, p + done, n - done, off_t(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        ThrowIoErrorFromErrno(errno, path_);
      }
      if (r == 0) break;
      done += size_t(r);
    }
    return done;
  }

  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, p + done, n - done, off_t(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        ThrowIoErrorFromErrno(errno, path_);
      }
      done += size_t(r);
    }
  }

  uint64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowIoErrorFromErrno(errno, path_);
    return uint64_t(st.st_size);
  }

  void Truncate(uint64_t size) override {
    if (::ftruncate(fd_, off_t(size)) != 0) ThrowIoErrorFromErrno(errno, path_);
  }

  void Sync() override {
    if (::fsync(fd_) != 0) ThrowIoErrorFromErrno(errno, path_);
  }

  void TakeModeOf(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) (void)::fchmod(fd_, st.st_mode & 07777);
  }

  void Close() override {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;  // the descriptor is released even when close reports an error
    if (::close(fd) != 0 && errno != EINTR) ThrowIoErrorFromErrno(errno, path_);
  }

 private:
  int fd_;
  const std::string path_;  // as opened; for an unnamed file, its directory
};

int OpenOrThrow(const std::string& path, int flags, mode_t mode = 0) {
  for (;;) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EINTR) ThrowIoErrorFromErrno(errno, path);
  }
}

class PosixDirLock final : public DirLock {
 public:
  explicit PosixDirLock(int fd) : fd_(fd) {}
  ~PosixDirLock() override { ::close(fd_); }  // closing releases the lock

 private:
  int fd_;
};

class PosixEnv final : public Env {
 public:
  std::unique_ptr<File> OpenExisting(const std::string& path, bool writable) override {
    int fd = OpenOrThrow(path, writable ? O_RDWR : O_RDONLY);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      ThrowIoErrorFromErrno(EISDIR, path);
    }
    return std::make_unique<PosixFile>(fd, path);
  }

  std::unique_ptr<File> CreateNew(const std::string& path) override {
    // O_EXCL fails on a link as on anything else the name holds; O_NOFOLLOW
    // says so once more.
    return std::make_unique<PosixFile>(
        OpenOrThrow(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666), path);
  }

  LinkEnd FollowLinks(const std::string& path) override {
    std::string at = path;
    for (int hops = 0;; ++hops) {
      struct stat st;
      if (::lstat(at.c_str(), &st) != 0) {
        if (errno == ENOENT) return {at, FileKind::kMissing};
        ThrowIoErrorFromErrno(errno, at);
      }
      if (!S_ISLNK(st.st_mode))
        return {at, S_ISREG(st.st_mode)   ? FileKind::kRegular
                    : S_ISDIR(st.st_mode) ? FileKind::kFolder
                                          : FileKind::kOther};
      if (hops == kMaxLinkHops) ThrowIoErrorFromErrno(ELOOP, path);
      char to[PATH_MAX];
      const ssize_t n = ::readlink(at.c_str(), to, sizeof to);
      if (n < 0) ThrowIoErrorFromErrno(errno, at);
      if (size_t(n) == sizeof to) ThrowIoErrorFromErrno(ENAMETOOLONG, at);
      const std::string target(to, size_t(n));
      at = !target.empty() && target[0] == '/' ? target : at.substr(0, at.rfind('/') + 1) + target;
    }
  }

  std::unique_ptr<File> CreateAnonymous(const std::string& dir) override {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return std::make_unique<PosixFile>(fd, dir);
    // File systems without unnamed files: a named one, unlinked at once.
    std::string tmpl = dir + ".velmora-XXXXXX";
    fd = ::mkstemp(tmpl.data());
    if (fd < 0) ThrowIoErrorFromErrno(errno, tmpl);
    ::unlink(tmpl.c_str());
    return std::make_unique<PosixFile>(fd, dir);
  }

  std::unique_ptr<DirLock> LockDir(const std::string& dir, int waitMs) override {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowIoErrorFromErrno(errno, dir);
    // Polled rather than blocking, so that a holder that never lets go costs
    // the user a short wait and a message, not a frozen window.
    for (int waited = 0;; waited += kLockPollMs) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<PosixDirLock>(fd);
      const int err = errno;
      if ((err != EWOULDBLOCK && err != EINTR) || waited >= waitMs) {
        ::close(fd);
        if (err == EWOULDBLOCK) throw FolderBusyError(dir);
        ThrowIoErrorFromErrno(err, dir);
      }
      ::usleep(kLockPollMs * 1000);
    }
  }
  void CheckWritable(const std::string& path) override {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT) return;
    ThrowIoErrorFromErrno(errno, path);
  }
  FileKind KindOf(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return FileKind::kMissing;
    if (S_ISREG(st.st_mode)) return FileKind::kRegular;
    return S_ISDIR(st.st_mode) ? FileKind::kFolder : FileKind::kOther;
  }
  std::unique_ptr<File> OpenNoFollow(const std::string& path) override {
    const int fd = OpenOrThrow(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      const int err = S_ISDIR(st.st_mode) ? EISDIR : ESPIPE;
      ::close(fd);
      ThrowIoErrorFromErrno(err, path);
    }
    return std::make_unique<PosixFile>(fd, path);
  }
  std::optional<NameInfo> LookUp(const std::string& path) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
      ThrowIoErrorFromErrno(errno, path);
    }
    NameInfo info;
    info.kind = S_ISREG(st.st_mode)   ? FileKind::kRegular
                : S_ISDIR(st.st_mode) ? FileKind::kFolder
                                      : FileKind::kOther;
    info.link = S_ISLNK(st.st_mode);
    info.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    info.size = uint64_t(st.st_size);
    info.inode = uint64_t(st.st_ino);
    return info;
  }
  std::string RealPath(const std::string& path) override {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf)) ThrowIoErrorFromErrno(errno, path);
    return buf;
  }
  void MakeFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) ThrowIoErrorFromErrno(errno, path);
  }
  void CheckFolderUsable(const std::string& dir) override {
    if (::faccessat(AT_FDCWD, dir.c_str(), R_OK | W_OK | X_OK, AT_EACCESS) != 0)
      ThrowIoErrorFromErrno(errno, dir);
  }
  bool FileExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::vector<DirEntry> ListDir(const std::string& dir) override {
    std::vector<DirEntry> out;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return out;
    while (struct dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      bool regular;
      if (e->d_type == DT_REG) {
        regular = true;
      } else if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
        struct stat st;
        regular = ::stat((dir + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
      } else {
        regular = false;
      }
      out.push_back({std::move(name), regular});
    }
    ::closedir(d);
    return out;
  }

  void Rename(const std::string& from, const std::string& to) override {
    // Either name may be the cause: a folder in the way is the target's
    // fault, anything else is told of the file that was moving.
    if (::rename(from.c_str(), to.c_str()) != 0) {
      const int err = errno;
      ThrowIoErrorFromErrno(err, err == EISDIR || err == ENOTEMPTY ? to : from);
    }
  }

  void Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) ThrowIoErrorFromErrno(errno, path);
  }

  void SyncDir(const std::string& dir) override {
    int fd = OpenOrThrow(dir.empty() ? "." : dir, O_RDONLY | O_DIRECTORY);
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    // Some file systems cannot sync a directory; the rename is done anyway.
    if (rc != 0 && err != EINVAL && err != ENOTSUP) ThrowIoErrorFromErrno(err, dir);
  }

  void SyncFileSystem(const std::string& dir) override {
    int fd = OpenOrThrow(dir.empty() ? "." : dir, O_RDONLY | O_DIRECTORY);
    int rc = ::syncfs(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0) ThrowIoErrorFromErrno(err, dir);
  }
};

}  // namespace

Env& Env::Posix() {
  static PosixEnv env;
  return env;
}

}  // namespace velmora
