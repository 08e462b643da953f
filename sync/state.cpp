#include "sync/state.h"

#include <charconv>

#include "platform/ioerror.h"
#include "platform/savefile.h"
#include "store/datafile.h"

namespace velmora {
namespace {

constexpr std::string_view kHeader = "velmora sync state 1\n";
constexpr size_t kMaxStateBytes = size_t(1) << 30;

// Texts hold any byte; tabs, line ends and "%" must not break the line.
void PutEscaped(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == '%' || b == 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
}

bool Unescape(std::string_view in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    unsigned v = 0;
    auto [p, ec] = std::from_chars(in.data() + i + 1, in.data() + i + 3, v, 16);
    if (ec != std::errc() || p != in.data() + i + 3) return false;
    out += char(v);
    i += 2;
  }
  return true;
}

template <class T>
bool Number(std::string_view s, T& v) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && p == s.data() + s.size();
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> out;
  for (;;) {
    const size_t tab = line.find('\t');
    out.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return out;
    line.remove_prefix(tab + 1);
  }
}

std::optional<SyncState> Parse(std::string_view bytes) {
  if (bytes.substr(0, kHeader.size()) != kHeader) return std::nullopt;
  bytes.remove_prefix(kHeader.size());
  SyncState st;
  bool haveDir = false;
  while (!bytes.empty()) {
    const size_t nl = bytes.find('\n');
    if (nl == std::string_view::npos) return std::nullopt;  // cut short
    const std::vector<std::string_view> f = Split(bytes.substr(0, nl));
    bytes.remove_prefix(nl + 1);
    if (!haveDir) {
      if (f.size() != 2 || f[0] != "dir" || !Unescape(f[1], st.dir)) return std::nullopt;
      haveDir = true;
      continue;
    }
    PairState p;
    if (f.size() != 10 || !Unescape(f[0], p.file) || !Number(f[1], p.stamp.mtimeNs) ||
        !Number(f[2], p.stamp.size) || !Number(f[3], p.stamp.inode) || !Number(f[4], p.hash) ||
        !Unescape(f[5], p.base.name) || !Unescape(f[6], p.base.surname) ||
        !Unescape(f[7], p.base.phone1) || !Unescape(f[8], p.base.phone2) ||
        !Unescape(f[9], p.base.comments))
      return std::nullopt;
    st.pairs.push_back(std::move(p));
  }
  if (!haveDir) return std::nullopt;
  return st;
}

}  // namespace

uint64_t CardHash(std::string_view bytes) {
  // FNV-1a: the hash only tells a card that changed from one that did not,
  // next to its size.
  uint64_t h = 14695981039346656037ull;
  for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

std::optional<SyncState> LoadSyncState(Env& env, const std::string& path) {
  if (!env.FileExists(path)) return std::nullopt;
  const std::optional<std::string> bytes = ReadWholeFile(env, path, kMaxStateBytes);
  if (!bytes) return std::nullopt;
  return Parse(*bytes);
}

void SaveSyncState(Env& env, const std::string& dir, const std::string& path,
                   const SyncState& state) {
  SaveFile out(env, dir, kScratchName, path);
  std::string line(kHeader);
  line += "dir\t";
  PutEscaped(line, state.dir);
  line += '\n';
  for (const PairState& p : state.pairs) {
    PutEscaped(line, p.file);
    line += '\t' + std::to_string(p.stamp.mtimeNs);
    for (uint64_t n : {p.stamp.size, p.stamp.inode, p.hash}) line += '\t' + std::to_string(n);
    for (const std::string* t :
         {&p.base.name, &p.base.surname, &p.base.phone1, &p.base.phone2, &p.base.comments}) {
      line += '\t';
      PutEscaped(line, *t);
    }
    line += '\n';
    out.Append(line.data(), line.size());
    line.clear();
  }
  out.Append(line.data(), line.size());
  out.Commit();
}

}  // namespace velmora
