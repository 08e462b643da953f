#include "platform/profile.h"

#include <optional>

#include "platform/ioerror.h"
#include "platform/readcaps.h"
#include "platform/savefile.h"
#include "platform/text.h"

namespace velmora {
namespace {

constexpr size_t kMaxValue = 1023;

// The file's bytes; nullopt when it cannot be read or is larger than
// kMaxConfigBytes, which is then told by its size alone.
std::optional<std::string> ReadWhole(Env& env, const std::string& path) {
  try {
    return ReadWholeFile(env, path, kMaxConfigBytes);
  } catch (const IoError&) {
    return std::nullopt;
  }
}

// One line of the file: [begin, end) without its line break.
struct Line {
  size_t begin, end, next;
};

std::optional<Line> NextLine(const std::string& s, size_t pos) {
  if (pos >= s.size()) return std::nullopt;
  size_t nl = s.find('\n', pos);
  size_t next = nl == std::string::npos ? s.size() : nl + 1;
  size_t end = nl == std::string::npos ? s.size() : nl;
  if (end > pos && s[end - 1] == '\r') --end;
  return Line{pos, end, next};
}

// The section name of a "[name]" line.
std::optional<std::string> SectionOf(std::string_view line) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  return Trim(
      std::string_view(t).substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// Where a key's value lies within the file: the span of the trimmed value.
struct KeyHit {
  size_t valueBegin, valueEnd;
};

struct Scan {
  std::optional<size_t> sectionEnd;  // just after the section's last non-blank line
  std::optional<KeyHit> key;
};

Scan Find(const std::string& s, const std::string& section, const std::string& key) {
  Scan scan;
  bool inSection = false;
  for (auto line = NextLine(s, 0); line; line = NextLine(s, line->next)) {
    std::string_view text(s.data() + line->begin, line->end - line->begin);
    if (auto name = SectionOf(text)) {
      if (scan.sectionEnd) break;  // the first matching section is the one used
      inSection = SameName(*name, section);
      if (inSection) scan.sectionEnd = line->next;
      continue;
    }
    if (!inSection) continue;
    if (!Trim(text).empty()) scan.sectionEnd = line->next;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos || !SameName(Trim(text.substr(0, eq)), key)) continue;
    size_t b = line->begin + eq + 1, e = line->end;
    while (b < e && IsTrimmed(s[b])) ++b;
    while (e > b && IsTrimmed(s[e - 1])) --e;
    scan.key = KeyHit{b, e};
    break;
  }
  return scan;
}

std::string DirOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string ReadProfileString(Env& env, const std::string& path, const std::string& section,
                              const std::string& key, const std::string& def) {
  auto content = ReadWhole(env, path);
  if (!content) return def;
  Scan scan = Find(*content, section, key);
  if (!scan.key) return def;
  return content->substr(scan.key->valueBegin,
                         std::min(kMaxValue, scan.key->valueEnd - scan.key->valueBegin));
}

bool ProfileTooLarge(Env& env, const std::string& path) {
  try {
    return env.FileExists(path) && env.OpenExisting(path, false)->Size() > kMaxConfigBytes;
  } catch (const IoError&) {
    return false;
  }
}

bool WriteProfileString(Env& env, const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos) return false;
  std::string content;
  if (env.FileExists(path)) {
    auto old = ReadWhole(env, path);
    if (!old) return false;
    content = std::move(*old);
  }

  Scan scan = Find(content, section, key);
  if (scan.key) {
    content.replace(scan.key->valueBegin, scan.key->valueEnd - scan.key->valueBegin, value);
  } else {
    std::string add = key + "=" + value + "\r\n";
    size_t at = scan.sectionEnd ? *scan.sectionEnd : content.size();
    if (!scan.sectionEnd) add = "[" + section + "]\r\n" + add;
    if (at > 0 && content[at - 1] != '\n') add = "\r\n" + add;
    content.insert(at, add);
  }

  try {
    size_t slash = path.rfind('/');
    SaveFile out(env, DirOf(path), path.substr(slash + 1) + ".tmp", path);
    out.Append(content.data(), content.size());
    out.Commit();
    return true;
  } catch (const AppError&) {  // a file step, or a file that is no regular file
    return false;
  }
}

}  // namespace velmora
