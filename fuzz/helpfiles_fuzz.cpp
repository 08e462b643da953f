// Any bytes as a help index or topic file: the lines hold no line break and
// account for every byte before the first NUL, one line per line break; the
// file reader gives the same lines, and refuses the file exactly when it is
// larger than the capacity asked for.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/scratchdir.h"
#include "helpviewer/helpfiles.h"
#include "platform/ioerror.h"

using namespace tolka;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kPath = ScratchDir() + "hlp#0i";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view text = bytes.substr(0, bytes.find('\0'));

  const QStringList lines = TextLines(bytes);
  qsizetype chars = 0;
  for (const QString& line : lines) {
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) std::abort();
    chars += line.size();
  }
  // One line per line break (CR LF being one), and one more for a last line
  // that has none.
  qsizetype breaks = 0, breakBytes = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    ++breaks;
    ++breakBytes;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i, ++breakBytes;
  }
  const bool openLast = !text.empty() && text.back() != '\r' && text.back() != '\n';
  if (lines.size() != breaks + (openLast ? 1 : 0)) std::abort();
  if (LineCount(bytes) != size_t(lines.size())) std::abort();
  if (chars + breakBytes != qsizetype(text.size())) std::abort();

  std::ofstream(kPath, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), std::streamsize(size));
  velmora::Env& env = velmora::Env::Posix();
  if (ReadTextLines(env, kPath) != lines) std::abort();
  // A capacity one byte short of the file, just enough, or one byte more.
  const std::uint64_t capacity = size == 0 ? 0 : size - 1 + data[0] % 3;
  bool refused = false;
  try {
    if (ReadTextLines(env, kPath, capacity) != lines) std::abort();
  } catch (const velmora::AppError& e) {
    if (std::string_view(e.what()) != "Text exceeds memo capacity") std::abort();
    refused = true;
  }
  if (refused != (size > capacity)) std::abort();
  return 0;
}
