#pragma once
// The seam between the program and the file system. Every file step of the
// program goes through an Env, so that tests can swap in one that fails a
// chosen step (a full disk, a refused rename) or counts open files.
//
// Every fallible step throws IoError; nothing here reports failure by value.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// An open file. Reads and writes are positional, so a file has no cursor
// that a failed step could leave in an unknown place. Destroying a File that
// is still open closes it and ignores the outcome: a failed operation never
// leaves a file open.
class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at offset; returns fewer only at the end of the file.
  virtual size_t ReadAt(uint64_t offset, void* buf, size_t n) = 0;
  // Writes all n bytes at offset.
  virtual void WriteAt(uint64_t offset, const void* buf, size_t n) = 0;
  virtual uint64_t Size() = 0;
  virtual void Truncate(uint64_t size) = 0;
  // Makes the content durable.
  virtual void Sync() = 0;
  // Gives the file the permissions of the file at path, if there is one, so
  // that a replaced file stays as private as it was. Only ever asked of a
  // file this process has just created, so it changes the mode of no file
  // anyone else owns. Best effort: never fails.
  virtual void TakeModeOf(const std::string& path) = 0;
  // Closes the file; a second call does nothing.
  virtual void Close() = 0;
};

// An advisory lock held until destroyed.
class DirLock {
 public:
  virtual ~DirLock() = default;
};

// What a name stands for, after following links.
enum class FileKind { kMissing, kRegular, kFolder, kOther };

// What a name leads to once its links are followed.
struct LinkEnd {
  std::string path;  // the name itself when it is no link
  FileKind kind;
};

// What a name itself is, links not followed: what tells a file unchanged
// without reading it.
struct NameInfo {
  FileKind kind = FileKind::kMissing;  // of the name itself: a link is kOther
  bool link = false;
  int64_t mtimeNs = 0;
  uint64_t size = 0;
  uint64_t inode = 0;
};

struct DirEntry {
  std::string name;
  bool regular = false;  // a regular file (after following links)
};

class Env {
 public:
  virtual ~Env() = default;

  // Opens a file that must exist: "File not found" otherwise.
  virtual std::unique_ptr<File> OpenExisting(const std::string& path, bool writable) = 0;
  // Creates a file under a name nothing holds yet, never through a link,
  // with the mode the umask leaves of 0666. A name that is taken, by
  // anything at all, fails with errno EEXIST and is left as it is.
  virtual std::unique_ptr<File> CreateNew(const std::string& path) = 0;
  // Where a write to path lands: the file its links lead to (a relative link
  // read from the link's own folder), or path itself when it is no link.
  // "Invalid filename" when the links go round in circles.
  virtual LinkEnd FollowLinks(const std::string& path) = 0;
  // A file in dir without a name: it disappears when closed or when the
  // process dies, so a crash never leaves it behind.
  virtual std::unique_ptr<File> CreateAnonymous(const std::string& dir) = 0;
  // Opens for reading a regular file that path names itself: a link is
  // never followed ("Invalid filename"), and a pipe or device is refused
  // without blocking.
  virtual std::unique_ptr<File> OpenNoFollow(const std::string& path) = 0;
  // What path names, links not followed; nullopt when nothing does. Other
  // failures (a folder on the way that may not be searched) throw.
  virtual std::optional<NameInfo> LookUp(const std::string& path) = 0;
  // The absolute path of an existing file or folder, with every link and
  // "." and ".." resolved.
  virtual std::string RealPath(const std::string& path) = 0;
  // Makes one folder, with the mode the umask leaves of 0777; a name that is
  // taken fails with EEXIST.
  virtual void MakeFolder(const std::string& path) = 0;
  // Throws the error a listing of dir or a new file in it would meet:
  // an unreadable folder lists as empty, which must not pass for one.
  virtual void CheckFolderUsable(const std::string& dir) = 0;
  // True when path names a regular file.
  virtual bool FileExists(const std::string& path) = 0;
  // What path names, without opening it (a pipe would block an open); a
  // name that cannot be looked up at all counts as missing.
  virtual FileKind KindOf(const std::string& path) = 0;
  // Throws the error a write of path would meet ("File access denied" for a
  // read-only file) when this process may not write it; does nothing when
  // there is no such file. A file is replaced by a rename, which the file's
  // own permissions do not stop, so replacing asks first.
  virtual void CheckWritable(const std::string& path) = 0;
  // The entries of dir, without "." and ".."; empty when it cannot be read.
  virtual std::vector<DirEntry> ListDir(const std::string& dir) = 0;
  // Renames from to to, replacing to in one step.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Removes the name: of a link the link alone goes. A folder is refused.
  virtual void Remove(const std::string& path) = 0;
  // Makes a rename or removal in dir durable.
  virtual void SyncDir(const std::string& dir) = 0;
  // Makes every file written on the file system that holds dir durable at
  // once: for a batch of files where a sync each would cost too much.
  virtual void SyncFileSystem(const std::string& dir) = 0;
  // Takes the exclusive advisory lock of the directory itself (it adds no
  // file), waiting up to waitMs while another process holds it; then
  // "File access denied". Two locks taken by one process exclude each other
  // too, so callers nest through one holder.
  virtual std::unique_ptr<DirLock> LockDir(const std::string& dir, int waitMs) = 0;

  // The real file system.
  static Env& Posix();
};

// A whole file that must exist, read in one piece; nullopt when it holds more
// than cap bytes, which is told by its size alone. File errors propagate.
inline std::optional<std::string> ReadWholeFile(Env& env, const std::string& path, uint64_t cap) {
  auto in = env.OpenExisting(path, false);
  const uint64_t size = in->Size();
  if (size > cap) return std::nullopt;
  std::string bytes(size_t(size), '\0');
  bytes.resize(in->ReadAt(0, bytes.data(), bytes.size()));
  in->Close();
  return bytes;
}

}  // namespace velmora
