// Any bytes as the launcher's name and parameter lines: the command line and
// its words must agree, whatever blanks, control bytes or lengths they hold,
// and every error number must have a text.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/appexec.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t nl; (nl = input.find('\n', begin)) != std::string::npos; begin = nl + 1)
    lines.push_back(input.substr(begin, nl - begin));
  lines.push_back(input.substr(begin));

  TAppExec launcher;
  launcher.SetExeName(lines.front());
  launcher.SetExeParams({lines.begin() + 1, lines.end()});
  const std::string line = launcher.CommandLine();

  // The words, joined by one blank, are the line with its runs of blanks
  // made one and its ends trimmed of them.
  std::string squeezed;
  for (char c : line)
    if (c != ' ' || (!squeezed.empty() && squeezed.back() != ' ')) squeezed += c;
  if (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
  std::string joined;
  for (const std::string& w : appexec::SplitCommandLine(line)) {
    if (w.empty() || w.find(' ') != std::string::npos) std::abort();
    joined += (joined.empty() ? "" : " ") + w;
  }
  if (joined != squeezed) std::abort();

  launcher.SetExePath(lines.front());
  const std::string& path = launcher.ExePath();
  if (path.size() + 1 < lines.front().size()) std::abort();  // at most one separator dropped

  int number = 0;
  for (size_t i = 0; i < size && i < 4; ++i) number = number << 8 | data[i];
  if (appexec::MessageFor(number).empty()) std::abort();
  return 0;
}
