// Any bytes as a data file: reading, rewriting and sorting must neither
// crash nor lose, double or change a record, and must keep a tail as it was.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/scratchdir.h"
#include "platform/ioerror.h"
#include "store/datafile.h"
#include "store/sort.h"

using namespace velmora;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Records(const std::string& bytes) {
  std::vector<std::string> out;
  for (size_t at = 0; at + 135 <= bytes.size(); at += 135) out.push_back(bytes.substr(at, 135));
  return out;
}

std::string Key(const std::string& rec) {
  return ContactRecord::FromBytes(reinterpret_cast<const unsigned char*>(rec.data())).SortKey();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the sort's buffer sizes, so every way through is taken.
  const size_t window = 1 + data[0] % 8, chunk = 1 + (data[0] >> 3) % 8;
  const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string path = ScratchDir() + "F.VLM";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;

  Session s;
  s.ProgramDir = ScratchDir();
  s.WorkingName = "F";
  s.WorkingExt = "VLM";

  size_t seen = 0;
  bool tail = content.size() % 135 != 0;
  try {
    ReadWorkingFile(
        s, [](uint64_t) {},
        [&](RecordView r) {
          ++seen;
          if (r.Copy().IdentityText().size() > ContactRecord::kMaxIdentity) std::abort();
        });
    if (tail) std::abort();  // the tail must be reported
  } catch (const IoError& e) {
    if (!tail || e.code() != IoError::kReadBeyondEnd) std::abort();
  }
  if (seen != content.size() / 135) std::abort();

  SortDataFile(s,
               {.windowRecords = window, .chunkRecords = chunk, .mergeBufferBytes = 135 * chunk});
  const std::string sorted = ReadFile(path);
  auto before = Records(content), after = Records(sorted);
  if (sorted.size() != content.size() ||
      sorted.substr(after.size() * 135) != content.substr(before.size() * 135))
    std::abort();
  std::stable_sort(before.begin(), before.end(),
                   [](const std::string& a, const std::string& b) { return Key(a) < Key(b); });
  if (before != after) std::abort();
  return 0;
}
