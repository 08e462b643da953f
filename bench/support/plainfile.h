#pragma once
// Plain file steps on descriptors, for the benchmarks' reference figures and
// their untimed set-up. Every failure throws std::runtime_error naming the
// step and the errno's text.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::bench {

[[noreturn]] void Fail(const std::string& what);

int OpenFd(const std::string& path, int flags, mode_t mode = 0666);

// All n bytes, at the descriptor's position.
void WriteAll(int fd, const void* data, size_t n);
// All n bytes at offset `at`.
void WriteAllAt(int fd, const void* data, size_t n, uint64_t at);
// Exactly n bytes from offset `at`; the end of the file before them fails.
void ReadAllAt(int fd, void* data, size_t n, uint64_t at);

// Creates or truncates path and writes bytes into it.
void WriteFile(const std::string& path, const std::string& bytes);
// The whole file.
std::string ReadFile(const std::string& path);

}  // namespace velmora::bench
