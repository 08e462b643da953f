#include "helpviewer/helpfiles.h"

#include <algorithm>
#include <memory>

#include "platform/codepage.h"
#include "platform/ioerror.h"

namespace tolka {
namespace {

constexpr size_t kReadBlock = 64 * 1024;

[[noreturn]] void ThrowCannotOpen(const std::string& path) {
  throw velmora::AppError("Cannot open file " + path);
}

}  // namespace

QStringList TextLines(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  QStringList lines;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t end = std::min(bytes.find_first_of("\r\n", at), bytes.size());
    lines << velmora::CodePage::Windows1252().Decode(bytes.substr(at, end - at));
    at = end;
    if (at < bytes.size() && bytes[at] == '\r') ++at;
    if (at < bytes.size() && bytes[at] == '\n') ++at;
  }
  return lines;
}

size_t LineCount(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  size_t lines = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    if (bytes[i] == '\r' || bytes[i] == '\n') ++lines;
  }
  const bool openLast = !bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n';
  return lines + (openLast ? 1 : 0);
}

QStringList ReadTextLines(velmora::Env& env, const std::string& path, std::uint64_t maxBytes,
                          size_t maxLines) {
  // Only a regular file is read: a device or a pipe under a help file's name
  // could otherwise block the viewer or feed it without end.
  if (!env.FileExists(path)) ThrowCannotOpen(path);
  std::string bytes;
  std::unique_ptr<velmora::File> file;
  std::uint64_t size = 0;
  try {
    file = env.OpenExisting(path, false);
    size = file->Size();
  } catch (const velmora::IoError&) {
    ThrowCannotOpen(path);
  }
  if (size > maxBytes) throw velmora::AppError("Text exceeds memo capacity");
  try {
    // Reads to the end, not to the size seen: a file that grows meanwhile is
    // still held to maxBytes. The first read asks for one byte more than the
    // size, so that a file that kept its size takes one read.
    size_t want = size_t(size) + 1;
    for (;;) {
      const size_t have = bytes.size();
      bytes.resize(have + want);
      const size_t got = file->ReadAt(have, bytes.data() + have, want);
      bytes.resize(have + got);
      if (bytes.size() > maxBytes) throw velmora::AppError("Text exceeds memo capacity");
      if (got < want) break;
      want = kReadBlock;
    }
    file->Close();
  } catch (const velmora::IoError&) {
    ThrowCannotOpen(path);
  }
  if (LineCount(bytes) > maxLines) throw velmora::AppError("Text exceeds memo capacity");
  return TextLines(bytes);
}

}  // namespace tolka
