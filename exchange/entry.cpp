#include "exchange/entry.h"

namespace velmora {
namespace {
constexpr size_t kBlockBytes = 1u << 16;
}

BufferedInput::BufferedInput(ByteSource source)
    : source_(std::move(source)), buf_(std::make_unique_for_overwrite<char[]>(kBlockBytes)) {
  // A byte order mark says UTF-8 and nothing else.
  if (Peek() == 0xEF && len_ >= 3 && buf_[1] == '\xBB' && buf_[2] == '\xBF') pos_ = 3;
}

bool BufferedInput::Refill() {
  if (ended_) return false;
  before_ += len_;
  pos_ = 0;
  len_ = source_(buf_.get(), kBlockBytes);
  if (len_ == 0) ended_ = true;
  return len_ > 0;
}

bool BufferedInput::ReadLine(std::string& out, size_t maxBytes) {
  if (Peek() < 0) return false;
  const uint64_t at = line_;
  for (;;) {
    if (pos_ == len_ && !Refill()) return true;
    // Whole runs up to the line end at once: this is the readers' inner loop.
    size_t end = pos_;
    while (end < len_ && buf_[end] != '\n' && buf_[end] != '\r') ++end;
    if (out.size() + (end - pos_) > maxBytes)
      throw FormatError(at, "a line longer than " + std::to_string(maxBytes >> 20) + " MiB");
    out.append(buf_.get() + pos_, end - pos_);
    pos_ = end;
    textEnd_ = offset();
    if (end < len_) {
      // The CR or LF, counted; Get looks past a CR, so a CR LF is one end.
      if (Get() == '\r' && Peek() == '\n') Get();
      return true;
    }
  }
}

}  // namespace velmora
