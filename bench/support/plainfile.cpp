#include "bench/support/plainfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velmora::bench {

void Fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

int OpenFd(const std::string& path, int flags, mode_t mode) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) Fail("open " + path);
  return fd;
}

void WriteAll(int fd, const void* data, size_t n) {
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) Fail("write");
    p += w;
    n -= size_t(w);
  }
}

void WriteAllAt(int fd, const void* data, size_t n, uint64_t at) {
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, off_t(at));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) Fail("write");
    p += w;
    at += uint64_t(w);
    n -= size_t(w);
  }
}

void ReadAllAt(int fd, void* data, size_t n, uint64_t at) {
  auto* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, off_t(at));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) Fail("read");
    if (r == 0) throw std::runtime_error("unexpected end of file");
    p += r;
    at += uint64_t(r);
    n -= size_t(r);
  }
}

void WriteFile(const std::string& path, const std::string& bytes) {
  const int fd = OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC);
  WriteAll(fd, bytes.data(), bytes.size());
  ::close(fd);
}

std::string ReadFile(const std::string& path) {
  const int fd = OpenFd(path, O_RDONLY);
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0) Fail("read " + path);
    out.append(buf, size_t(n));
  }
  ::close(fd);
  return out;
}

}  // namespace velmora::bench
