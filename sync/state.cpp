#include "sync/state.h"

#include <charconv>
#include <cstring>

#include "platform/ioerror.h"
#include "platform/readcaps.h"
#include "platform/savefile.h"
#include "store/datafile.h"

namespace velmora {
namespace {

constexpr std::string_view kHeader = "velmora sync state 1\n";

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

// The lines of a file, each without its line end, read a block at a time:
// memory stays within a block and the longest line.
class LineReader {
 public:
  enum Result { kLine, kEnd, kBad };
  explicit LineReader(File& file) : file_(file), buf_(size_t(64) << 10, '\0') {}

  // kBad for a line longer than kMaxSyncStateLineBytes and for a last line
  // without its line end: a state cut short is no state.
  Result Next(std::string_view& line) {
    long_.clear();
    bool begun = false;
    for (;;) {
      if (pos_ == len_) {
        len_ = file_.ReadAt(at_, buf_.data(), buf_.size());
        at_ += len_;
        pos_ = 0;
        if (len_ == 0) return begun ? kBad : kEnd;
      }
      const char* from = buf_.data() + pos_;
      const auto* nl = static_cast<const char*>(std::memchr(from, '\n', len_ - pos_));
      const size_t n = nl ? size_t(nl - from) : len_ - pos_;
      if (long_.size() + n > kMaxSyncStateLineBytes) return kBad;
      pos_ += nl ? n + 1 : n;
      if (nl && !begun) {
        line = std::string_view(from, n);
        return kLine;
      }
      long_.append(from, n);
      begun = true;
      if (nl) {
        line = long_;
        return kLine;
      }
    }
  }

 private:
  File& file_;
  std::string buf_;
  std::string long_;  // a line that spans blocks
  uint64_t at_ = 0;
  size_t pos_ = 0, len_ = 0;
};

bool ParsePair(std::string_view line, PairState& p) {
  const std::vector<std::string_view> f = Split(line);
  return f.size() == 10 && Unescape(f[0], p.file) && Number(f[1], p.stamp.mtimeNs) &&
         Number(f[2], p.stamp.size) && Number(f[3], p.stamp.inode) && Number(f[4], p.hash) &&
         Unescape(f[5], p.base.name) && Unescape(f[6], p.base.surname) &&
         Unescape(f[7], p.base.phone1) && Unescape(f[8], p.base.phone2) &&
         Unescape(f[9], p.base.comments);
}

std::optional<SyncState> Parse(File& in) {
  LineReader lines(in);
  std::string_view line;
  if (lines.Next(line) != LineReader::kLine || line != kHeader.substr(0, kHeader.size() - 1))
    return std::nullopt;
  SyncState st;
  if (lines.Next(line) != LineReader::kLine) return std::nullopt;
  const std::vector<std::string_view> f = Split(line);
  if (f.size() != 2 || f[0] != "dir" || !Unescape(f[1], st.dir)) return std::nullopt;
  for (bool first = true;; first = false) {
    switch (lines.Next(line)) {
      case LineReader::kEnd: return st;
      case LineReader::kBad: return std::nullopt;
      case LineReader::kLine: break;
    }
    // A pair has ten fields, so the token's two never pass for one.
    if (const std::vector<std::string_view> t = Split(line);
        first && t.size() == 2 && t[0] == "token") {
      if (!Unescape(t[1], st.token)) return std::nullopt;
      continue;
    }
    PairState p;
    if (!ParsePair(line, p)) return std::nullopt;
    st.pairs.push_back(std::move(p));
  }
}

// Why a state is not used, and what the sync does instead.
std::string NotUsed(const std::string& path, const std::string& why) {
  return path + why +
         "; this sync pairs contacts by their texts, as a first sync does, and deletes nothing";
}

}  // namespace

uint64_t CardHash(std::string_view bytes) {
  // FNV-1a: the hash only tells a card that changed from one that did not,
  // next to its size.
  uint64_t h = 14695981039346656037ull;
  for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

LoadedState LoadSyncState(Env& env, const std::string& path) {
  RefuseOddCompanion(env, path, false);
  if (!env.FileExists(path)) return {};
  // Never through a link planted since the look above.
  auto in = env.OpenNoFollow(path);
  static_assert(kMaxSyncStateBytes == uint64_t(4) << 30);
  if (in->Size() > kMaxSyncStateBytes)
    return {std::nullopt, NotUsed(path, " is larger than 4 GiB and was not read")};
  LoadedState out{Parse(*in), ""};
  in->Close();
  if (!out.state) out.problem = NotUsed(path, " is no sync state velmora can read");
  return out;
}

void SaveSyncState(Env& env, const std::string& dir, const std::string& path,
                   const SyncState& state) {
  SaveFile out(env, dir, kScratchName, path, LinkedTarget::kReplaceTheLink);
  std::string line(kHeader);
  line += "dir\t";
  PutEscaped(line, state.dir);
  line += '\n';
  if (!state.token.empty()) {
    line += "token\t";
    PutEscaped(line, state.token);
    line += '\n';
  }
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

Pairing ReadPairing(Env& env, const std::string& statePath, const std::string& vdir,
                    const std::string& dataPath, bool reset) {
  Pairing p;
  if (reset) {
    // Both are replaced as they stand; what a link there leads to is never
    // looked at.
    RefuseOddCompanion(env, statePath, true);
    RefuseOddCompanion(env, vdir + kVdirMarkerName, true);
    return p;
  }
  LoadedState loaded = LoadSyncState(env, statePath);
  p.last = std::move(loaded.state);
  p.stateProblem = std::move(loaded.problem);
  if (p.last && p.last->dir != vdir)
    throw SyncRefused(dataPath + " is synced with " + p.last->dir + "; --reset pairs it with " +
                      vdir + " instead");
  const std::optional<std::string> marker = ReadVdirMarker(env, vdir);
  p.markerCurrent = marker == dataPath + "\n";
  if (!marker || marker->empty() || p.markerCurrent) return p;
  const std::string named = marker->substr(0, marker->find('\n'));
  // A RENAME moves the state along but cannot reach the marker: the file
  // it names is gone, and the state that came with this one knows the vdir.
  const bool renamed = p.last && *marker == named + "\n" && named.starts_with('/') &&
                       env.KindOf(named) == FileKind::kMissing;
  if (!renamed)
    throw SyncRefused(vdir + " is synced with " + named + "; --reset pairs it with " + dataPath +
                      " instead");
  return p;
}

}  // namespace velmora
