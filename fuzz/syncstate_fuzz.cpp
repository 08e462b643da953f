// Any bytes as a sync state: reading never fails but with a problem told,
// and a state read is written back and read again unchanged, byte for byte.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/scratchdir.h"
#include "sync/state.h"

using namespace velmora;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool Same(const SyncState& a, const SyncState& b) {
  if (a.dir != b.dir || a.pairs.size() != b.pairs.size()) return false;
  for (size_t i = 0; i < a.pairs.size(); ++i) {
    const PairState &p = a.pairs[i], &q = b.pairs[i];
    if (p.file != q.file || !(p.stamp == q.stamp) || p.hash != q.hash ||
        p.base.name != q.base.name || p.base.surname != q.base.surname ||
        p.base.phone1 != q.base.phone1 || p.base.phone2 != q.base.phone2 ||
        p.base.comments != q.base.comments)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kPath = ScratchDir() + ".F.VLM.sync";
  std::ofstream(kPath, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));

  Env& env = Env::Posix();
  const LoadedState first = LoadSyncState(env, kPath);
  if (first.state.has_value() == !first.problem.empty()) std::abort();
  if (!first.state) return 0;
  SaveSyncState(env, ScratchDir(), kPath, *first.state);
  const std::string written = ReadFile(kPath);
  const LoadedState again = LoadSyncState(env, kPath);
  if (!again.state || !Same(*first.state, *again.state)) std::abort();
  SaveSyncState(env, ScratchDir(), kPath, *again.state);
  if (ReadFile(kPath) != written) std::abort();
  return 0;
}
