// Timings of the record store's operations on data files of 1,000 to
// 1,000,000 entries, set against what the disk allows for the same file: one
// plain sequential read (for the search scan) and one plain sequential copy
// with a sync and a rename (for everything that rewrites the file). Two old
// ways are kept here, and only here, as baselines: the exchange sort the
// one-pass sort replaced, and the change that rewrote the file and then
// sorted it, which the one-pass change replaced.
//
// Every store operation also reports the most heap it held at once, so that
// a change which starts buffering whole files shows up here first.
//
// The files live in a fresh directory under $TMPDIR (or /tmp), removed at the
// end; each size's sorted file is generated once and copied in, untimed,
// before each benchmark.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/support/heap.h"
#include "bench/support/plainfile.h"
#include "bench/support/rundir.h"
#include "platform/text.h"
#include "store/contactrecord.h"
#include "store/datafile.h"
#include "store/session.h"
#include "store/sort.h"

namespace {

using velmora::ContactRecord;
using velmora::RecordTexts;
using velmora::Session;
using namespace velmora::bench;

constexpr size_t kRec = ContactRecord::kSize;
constexpr size_t kBlock = 1u << 20;

// ---------------------------------------------------------------------------
// Plain file steps, for the reference figures and the untimed set-up.

// One buffer for the plain steps, taken once so they allocate nothing.
char* PlainBuffer() {
  static std::vector<char> buf(kBlock);
  return buf.data();
}

// Reads the file start to end in 1 MiB blocks; returns the bytes read.
uint64_t PlainRead(const std::string& path) {
  int fd = OpenFd(path, O_RDONLY);
  char* buf = PlainBuffer();
  uint64_t total = 0;
  for (;;) {
    ssize_t r = ::read(fd, buf, kBlock);
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail("read " + path);
    }
    if (r == 0) break;
    total += uint64_t(r);
  }
  ::close(fd);
  return total;
}

// What a replacement of the whole file cannot go below: copy it in 1 MiB
// blocks to a scratch file, sync once, close, rename over the target.
void PlainCopy(const std::string& from, const std::string& scratch, const std::string& to) {
  int in = OpenFd(from, O_RDONLY);
  int out = OpenFd(scratch, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  char* buf = PlainBuffer();
  uint64_t at = 0;
  for (;;) {
    ssize_t r = ::read(in, buf, kBlock);
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail("read " + from);
    }
    if (r == 0) break;
    WriteAllAt(out, buf, size_t(r), at);
    at += uint64_t(r);
  }
  ::close(in);
  if (::fsync(out) != 0) Fail("fsync " + scratch);
  if (::close(out) != 0) Fail("close " + scratch);
  if (::rename(scratch.c_str(), to.c_str()) != 0) Fail("rename " + scratch);
}

uint64_t FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) Fail("stat " + path);
  return uint64_t(st.st_size);
}

ContactRecord ReadRecordAt(const std::string& path, uint64_t index) {
  ContactRecord r;
  int fd = OpenFd(path, O_RDONLY);
  ReadAllAt(fd, r.bytes.data(), kRec, index * kRec);
  ::close(fd);
  return r;
}

// ---------------------------------------------------------------------------
// Realistic entries: names and surnames of 3 to 12 letters, phone numbers in
// a few shapes, comments of a few words or none.

class EntryMaker {
 public:
  explicit EntryMaker(uint64_t seed) : rng_(seed) {}

  std::string Word(size_t minLen, size_t maxLen) {
    size_t len = Between(minLen, maxLen);
    std::string w;
    for (size_t i = 0; i < len; ++i) w += char((i == 0 ? 'A' : 'a') + Between(0, 25));
    return w;
  }

  std::string Phone() {
    static constexpr const char* kShapes[] = {"0### ### ####", "+44 ## #### ####", "0###-######",
                                              "(0##) ### ## ##", "07### ######"};
    std::string p = kShapes[Between(0, std::size(kShapes) - 1)];
    for (char& c : p)
      if (c == '#') c = char('0' + Between(0, 9));
    return p;
  }

  std::string Comment() {
    if (Between(0, 3) == 0) return {};
    std::string c;
    size_t words = Between(1, 8);
    for (size_t i = 0; i < words; ++i) {
      std::string w = Word(2, 9);
      if (c.size() + 1 + w.size() > ContactRecord::kCapacity[ContactRecord::kComments]) break;
      if (!c.empty()) c += ' ';
      c += w;
    }
    return c;
  }

  RecordTexts Entry() {
    RecordTexts t;
    t.name = Word(3, 12);
    t.surname = Word(3, 12);
    t.phone1 = Phone();
    if (Between(0, 1)) t.phone2 = Phone();
    t.comments = Comment();
    return t;
  }

  size_t Between(size_t lo, size_t hi) {
    return std::uniform_int_distribution<size_t>(lo, hi)(rng_);
  }

 private:
  std::mt19937_64 rng_;
};

struct KeyOf {
  unsigned char len;
  char b[ContactRecord::kMaxSortKey];
  explicit KeyOf(const unsigned char* rec)
      : len(static_cast<unsigned char>(ContactRecord::SortKeyIn(rec, b).size())) {}
  std::string_view View() const { return {b, len}; }
};

// ---------------------------------------------------------------------------
// The directory of the run: the generated sorted files, and one working
// directory that each benchmark fills afresh.

class BenchDir {
 public:
  static BenchDir& Get() {
    static BenchDir d;
    return d;
  }

  const std::string& WorkDir() const { return dir_.Work(); }
  std::string WorkingFile() const { return dir_.WorkingFile(); }

  // The sorted file of n entries, generated on first use.
  const std::string& Sorted(uint64_t n) {
    auto it = sorted_.find(n);
    if (it != sorted_.end()) return it->second;
    std::string path = dir_.Root() + "sorted-" + std::to_string(n) + ".VLM";
    Generate(n, path);
    return sorted_[n] = path;
  }

  // Empties the working directory and puts a copy of the sorted file of n
  // entries in as the working file, synced, so no write-back of the set-up
  // lands in the timings.
  Session Fresh(uint64_t n) {
    dir_.EmptyWork();
    PlainCopy(Sorted(n), dir_.Work() + "setup.tmp", WorkingFile());
    return dir_.WorkSession();
  }

 private:
  BenchDir() : dir_("velmora-bench") {}

  static void Generate(uint64_t n, const std::string& path) {
    EntryMaker maker(n);
    std::vector<unsigned char> recs(size_t(n) * kRec);
    for (uint64_t i = 0; i < n; ++i) {
      ContactRecord r;
      r.SetTexts(maker.Entry());
      std::memcpy(recs.data() + i * kRec, r.bytes.data(), kRec);
    }
    std::vector<KeyOf> keys;
    keys.reserve(size_t(n));
    for (uint64_t i = 0; i < n; ++i) keys.emplace_back(recs.data() + i * kRec);
    std::vector<uint32_t> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return keys[a].View() < keys[b].View(); });

    int fd = OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    std::vector<unsigned char> block;
    uint64_t at = 0;
    for (uint32_t i : order) {
      block.insert(block.end(), recs.begin() + i * kRec, recs.begin() + (i + 1) * kRec);
      if (block.size() >= kBlock) {
        WriteAllAt(fd, block.data(), block.size(), at);
        at += block.size();
        block.clear();
      }
    }
    WriteAllAt(fd, block.data(), block.size(), at);
    if (::fsync(fd) != 0) Fail("fsync " + path);
    ::close(fd);
  }

  RunDir dir_;
  std::map<uint64_t, std::string> sorted_;
};

// After the last iteration, the working file must still be a sorted data file
// of the expected size: a benchmark that left garbage measured nothing.
void CheckSorted(benchmark::State& state, const std::string& path, uint64_t expectRecords) {
  const uint64_t size = FileSize(path);
  if (size != expectRecords * kRec) {
    state.SkipWithError(("working file has " + std::to_string(size) + " bytes, expected " +
                         std::to_string(expectRecords * kRec))
                            .c_str());
    return;
  }
  int fd = OpenFd(path, O_RDONLY);
  std::vector<unsigned char> buf(kBlock / kRec * kRec);
  std::string prev;
  for (uint64_t at = 0; at < size; at += buf.size()) {
    size_t want = size_t(std::min<uint64_t>(buf.size(), size - at));
    ReadAllAt(fd, buf.data(), want, at);
    for (size_t o = 0; o < want; o += kRec) {
      KeyOf k(buf.data() + o);
      if (k.View() < prev) {
        ::close(fd);
        state.SkipWithError("working file is out of order");
        return;
      }
      prev.assign(k.View());
    }
  }
  ::close(fd);
}

void Rates(benchmark::State& state, uint64_t records, const HeapPeak* heap) {
  state.counters["records_per_s"] =
      benchmark::Counter(double(records) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(int64_t(records * kRec) * state.iterations());
  if (heap) state.counters["peak_heap_MiB"] = heap->MiB();
}

// The search's test: the SURNAME's first characters, upper-cased, are the
// prefix typed.
template <class Record>
bool SurnameStartsWith(const Record& r, std::string_view prefix) {
  std::string_view surname = r.Text(ContactRecord::kSurname);
  if (surname.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (velmora::UpperChar(surname[i]) != prefix[i]) return false;
  return true;
}

// ---------------------------------------------------------------------------
// The store operations.

void Scan(benchmark::State& state, uint64_t n) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().Fresh(n);
    HeapPeak heap;
    uint64_t hits = 0;
    for (auto _ : state) {
      uint64_t count = 0;
      hits = 0;
      heap.Start();
      velmora::ReadWorkingFile(
          s, [&](uint64_t c) { count = c; },
          [&](velmora::RecordView r) { hits += SurnameStartsWith(r, "MA"); });
      heap.Stop();
      benchmark::DoNotOptimize(count);
      benchmark::DoNotOptimize(hits);
    }
    state.counters["matches"] = double(hits);
    Rates(state, n, &heap);
  });
}

// An addition as the windows make it, in one pass. An entry whose key sorts
// before every generated one: the new record must travel the whole file.
void AddFront(benchmark::State& state, uint64_t n) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().Fresh(n);
    EntryMaker maker(n + 1);
    HeapPeak heap;
    for (auto _ : state) {
      RecordTexts t = maker.Entry();
      t.surname = "AAAA";
      heap.Start();
      s.NewRecord.SetTexts(t);
      velmora::InsertRecord(s);
      heap.Stop();
    }
    CheckSorted(state, s.WorkingFilePath(), n + uint64_t(state.iterations()));
    Rates(state, n, &heap);
  });
}

void AddRandom(benchmark::State& state, uint64_t n) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().Fresh(n);
    EntryMaker maker(n + 2);
    HeapPeak heap;
    for (auto _ : state) {
      RecordTexts t = maker.Entry();
      heap.Start();
      s.NewRecord.SetTexts(t);
      velmora::InsertRecord(s);
      heap.Stop();
    }
    CheckSorted(state, s.WorkingFilePath(), n + uint64_t(state.iterations()));
    Rates(state, n, &heap);
  });
}

// Changing an entry: the old record out, the changed one in at its sorted
// place. With newKey the surname changes; otherwise only PHONE1 does and the
// key stays. With twoSteps, the old way: rewritten, then sorted.
void Change(benchmark::State& state, uint64_t n, bool newKey, bool twoSteps) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().Fresh(n);
    const std::string path = s.WorkingFilePath();
    EntryMaker maker(n + 3);
    HeapPeak heap;
    for (auto _ : state) {
      state.PauseTiming();
      s.RemovedRecord = ReadRecordAt(path, maker.Between(0, n - 1));
      s.NewRecord = s.RemovedRecord;
      if (newKey)
        s.NewRecord.SetText(ContactRecord::kSurname, maker.Word(3, 12));
      else
        s.NewRecord.SetText(ContactRecord::kPhone1, maker.Phone());
      state.ResumeTiming();
      heap.Start();
      if (twoSteps) {
        velmora::RewriteWithout(s, true);
        velmora::SortDataFile(s);
      } else {
        velmora::ReplaceRecord(s);
      }
      heap.Stop();
    }
    CheckSorted(state, path, n);
    Rates(state, n, &heap);
  });
}

void Delete(benchmark::State& state, uint64_t n) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().Fresh(n);
    const std::string path = s.WorkingFilePath();
    EntryMaker maker(n + 4);
    HeapPeak heap;
    uint64_t left = n;
    for (auto _ : state) {
      state.PauseTiming();
      s.RemovedRecord = ReadRecordAt(path, maker.Between(0, left - 1));
      --left;
      state.ResumeTiming();
      heap.Start();
      velmora::RewriteWithout(s, false);
      heap.Stop();
    }
    CheckSorted(state, path, left);
    Rates(state, n, &heap);
  });
}

// ---------------------------------------------------------------------------
// What the disk allows for the same file.

void PlainReadBench(benchmark::State& state, uint64_t n) {
  Guarded(state, [&] {
    BenchDir::Get().Fresh(n);
    const std::string path = BenchDir::Get().WorkingFile();
    for (auto _ : state) benchmark::DoNotOptimize(PlainRead(path));
    Rates(state, n, nullptr);
  });
}

void PlainCopyBench(benchmark::State& state, uint64_t n) {
  Guarded(state, [&] {
    BenchDir::Get().Fresh(n);
    const std::string& dir = BenchDir::Get().WorkDir();
    const std::string from = BenchDir::Get().WorkingFile();
    // The target exists, as the working file does when ours renames over it.
    PlainCopy(from, dir + "copy.tmp", dir + "COPY.VLM");
    for (auto _ : state) PlainCopy(from, dir + "copy.tmp", dir + "COPY.VLM");
    Rates(state, n, nullptr);
  });
}

// ---------------------------------------------------------------------------
// The baseline: the exchange sort the one-pass sort replaced. It sorts in
// place, re-reading both records of every adjacent pair from the file and
// writing them back swapped when out of order, pass after pass until a pass
// changes nothing.

void ExchangeSortInPlace(const std::string& path) {
  int fd = OpenFd(path, O_RDWR);
  const uint64_t n = FileSize(path) / kRec;
  unsigned char a[kRec], b[kRec];
  char ka[ContactRecord::kMaxSortKey], kb[ContactRecord::kMaxSortKey];
  bool exchanged = true;
  while (exchanged) {
    exchanged = false;
    for (uint64_t i = 0; i + 1 < n; ++i) {
      ReadAllAt(fd, a, kRec, i * kRec);
      ReadAllAt(fd, b, kRec, (i + 1) * kRec);
      if (ContactRecord::SortKeyIn(a, ka) > ContactRecord::SortKeyIn(b, kb)) {
        WriteAllAt(fd, b, kRec, i * kRec);
        WriteAllAt(fd, a, kRec, (i + 1) * kRec);
        exchanged = true;
      }
    }
  }
  ::close(fd);
}

void ExchangeSortAddFront(benchmark::State& state, uint64_t n) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().Fresh(n);
    EntryMaker maker(n + 1);
    HeapPeak heap;
    for (auto _ : state) {
      state.PauseTiming();
      s = BenchDir::Get().Fresh(n);
      RecordTexts t = maker.Entry();
      t.surname = "AAAA";
      state.ResumeTiming();
      heap.Start();
      velmora::AppendRecord(s, t);
      ExchangeSortInPlace(s.WorkingFilePath());
      heap.Stop();
    }
    CheckSorted(state, s.WorkingFilePath(), n + 1);
    Rates(state, n, &heap);
  });
}

// ---------------------------------------------------------------------------

using BenchFn = void (*)(benchmark::State&, uint64_t);

// Iterations by size: the million-entry operations each write and sync
// 135 MB, so five are enough there.
int Iterations(uint64_t n, int atThousand) {
  switch (n) {
    case 1000: return atThousand;
    case 10000: return std::max(atThousand / 2, 3);
    case 100000: return std::max(atThousand / 5, 3);
    default: return 5;
  }
}

void Register(const std::string& name, uint64_t n, int iterations, BenchFn fn) {
  benchmark::RegisterBenchmark((name + "/" + std::to_string(n)).c_str(),
                               [fn, n](benchmark::State& st) { fn(st, n); })
      ->Iterations(iterations)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t sizes[] = {1000, 10000, 100000, 1000000};
  for (uint64_t n : sizes) Register("PlainRead", n, Iterations(n, 200) * 2, PlainReadBench);
  for (uint64_t n : sizes) Register("Scan", n, Iterations(n, 200) * 2, Scan);
  for (uint64_t n : sizes) Register("PlainCopy", n, Iterations(n, 30), PlainCopyBench);
  for (uint64_t n : sizes) Register("AddFront", n, Iterations(n, 30), AddFront);
  for (uint64_t n : sizes) Register("AddRandom", n, Iterations(n, 30), AddRandom);
  for (uint64_t n : sizes)
    Register("ChangePhone", n, Iterations(n, 30),
             [](benchmark::State& st, uint64_t m) { Change(st, m, false, false); });
  for (uint64_t n : sizes)
    Register("ChangeKey", n, Iterations(n, 30),
             [](benchmark::State& st, uint64_t m) { Change(st, m, true, false); });
  for (uint64_t n : sizes)
    Register("TwoStepChangePhone", n, Iterations(n, 30),
             [](benchmark::State& st, uint64_t m) { Change(st, m, false, true); });
  for (uint64_t n : sizes)
    Register("TwoStepChangeKey", n, Iterations(n, 30),
             [](benchmark::State& st, uint64_t m) { Change(st, m, true, true); });
  for (uint64_t n : sizes) Register("Delete", n, Iterations(n, 30), Delete);
  Register("ExchangeSortAddFront", 1000, 2, ExchangeSortAddFront);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
