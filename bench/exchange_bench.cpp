// Timings of import and export. An import of 10,000 to 1,000,000 cards into
// a new data file, and of 100,000 into one of 1,000,000 entries; an export
// of 100,000 and 1,000,000 entries as vCard and as CSV, set against what the
// disk allows for the same work: one sequential read of the data file plus
// the output written in 1 MiB blocks. Each export reports its time as a multiple of that baseline
// ("x_read_write", the goal being at most 3), and every operation the most
// heap it held at once, which must not grow with the size of the file.
// Two hostile inputs within the readers' caps: a CSV file under a header as
// wide as allowed, whose rows must cost what they hold; and the two worst
// extra texts, exported in at most 3 s and ten times their size in heap.
//
// The files live in a fresh directory under $TMPDIR (or /tmp), removed at the
// end; inputs are generated once, untimed.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/support/heap.h"
#include "bench/support/plainfile.h"
#include "bench/support/rundir.h"
#include "exchange/csv.h"
#include "exchange/exchange.h"
#include "exchange/vcard.h"
#include "platform/codepage.h"
#include "platform/readcaps.h"
#include "store/contactrecord.h"
#include "store/session.h"

namespace {

using velmora::ContactRecord;
using velmora::RecordTexts;
using velmora::Session;
using namespace velmora::bench;

constexpr size_t kRec = ContactRecord::kSize;
constexpr size_t kBlock = 1u << 20;
using Clock = std::chrono::steady_clock;

// Entries as people keep them: names with now and then an accent, phone
// numbers in a few shapes, comments of a few words or none, and some with
// commas and semicolons for the writers to escape.
class EntryMaker {
 public:
  explicit EntryMaker(uint64_t seed) : rng_(seed) {}

  RecordTexts Entry() {
    RecordTexts t{Word(3, 12), Word(3, 12), Phone(), Between(0, 1) ? Phone() : "", ""};
    for (size_t words = Between(0, 3) ? Between(1, 7) : 0; words > 0; --words) {
      std::string w = Word(2, 8) + (Between(0, 9) == 0 ? "," : Between(0, 9) == 0 ? ";" : "");
      if (t.comments.size() + 1 + w.size() > 50) break;
      t.comments += (t.comments.empty() ? "" : " ") + w;
    }
    return t;
  }

 private:
  size_t Between(size_t lo, size_t hi) {
    return std::uniform_int_distribution<size_t>(lo, hi)(rng_);
  }
  std::string Word(size_t minLen, size_t maxLen) {
    std::string w;
    for (size_t i = 0, n = Between(minLen, maxLen); i < n; ++i)
      w += Between(0, 30) == 0 ? '\xe9' : char((i == 0 ? 'A' : 'a') + Between(0, 25));
    return w;
  }
  std::string Phone() {
    static constexpr const char* kShapes[] = {"0### ### ####", "+44 ## #### ####", "0###-######",
                                              "(0##) ### ## ##"};
    std::string p = kShapes[Between(0, std::size(kShapes) - 1)];
    for (char& c : p)
      if (c == '#') c = char('0' + Between(0, 9));
    return p;
  }

  std::mt19937_64 rng_;
};

class BenchDir {
 public:
  static BenchDir& Get() {
    static BenchDir d;
    return d;
  }
  const std::string& Root() const { return dir_.Root(); }

  // A sorted data file of n entries, made on first use.
  const std::string& DataFile(uint64_t n) {
    auto [it, made] = files_.try_emplace("data" + std::to_string(n));
    if (made) {
      EntryMaker maker(n);
      std::vector<ContactRecord> records(n);
      for (ContactRecord& r : records) r.SetTexts(maker.Entry());
      std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return ContactRecord::CompareSortKeys(a.bytes.data(), b.bytes.data()) < 0;
      });
      std::string bytes;
      bytes.reserve(n * kRec);
      for (const ContactRecord& r : records)
        bytes.append(reinterpret_cast<const char*>(r.bytes.data()), kRec);
      it->second = Root() + "data-" + std::to_string(n) + ".VLM";
      WriteFile(it->second, bytes);
    }
    return it->second;
  }

  // n cards, as velmora writes them (other entries than the data files').
  const std::string& Cards(uint64_t n) {
    auto [it, made] = files_.try_emplace("cards" + std::to_string(n));
    if (made) {
      EntryMaker maker(n + 7);
      std::string out;
      for (uint64_t i = 0; i < n; ++i) velmora::AppendVcard(out, maker.Entry(), std::nullopt);
      it->second = Root() + "cards-" + std::to_string(n) + ".vcf";
      WriteFile(it->second, out);
    }
    return it->second;
  }

  // An empty work folder holding, when n > 0, a copy of the data file of n
  // entries as BENCH.VLM.
  Session Fresh(uint64_t n) {
    dir_.EmptyWork();
    if (n > 0) std::filesystem::copy_file(DataFile(n), dir_.WorkingFile());
    return dir_.WorkSession();
  }

  // A work folder whose two entries have the worst extra texts within the
  // cap: RTF of paragraphs only, and plain text of line ends only. Each is
  // a document of millions of empty paragraphs.
  Session WorstNotes() {
    dir_.EmptyWork();
    ContactRecord rtf, plain;
    rtf.SetTexts({"PAR", "ONLY", "", "", ""});
    plain.SetTexts({"LF", "ONLY", "", "", ""});
    std::string bytes;
    for (const ContactRecord* r : {&plain, &rtf})
      bytes.append(reinterpret_cast<const char*>(r->bytes.data()), kRec);
    WriteFile(dir_.WorkingFile(), bytes);
    std::string note = "{\\rtf1 ";
    while (note.size() + 5 < size_t(velmora::kMaxNoteBytes)) note += "\\par";
    WriteFile(dir_.Work() + "PARONLY", note + "}");
    WriteFile(dir_.Work() + "LFONLY", std::string(size_t(velmora::kMaxNoteBytes), '\n'));
    return dir_.WorkSession();
  }

  // A CSV file whose first row names kMaxCsvColumns columns, followed by n
  // rows of a name alone.
  const std::string& WideCsv(uint64_t n) {
    auto [it, made] = files_.try_emplace("widecsv" + std::to_string(n));
    if (made) {
      std::string out = "name";
      for (size_t i = 1; i < velmora::kMaxCsvColumns; ++i) out += ",c" + std::to_string(i);
      out += "\r\n";
      for (uint64_t i = 0; i < n; ++i) out += "N" + std::to_string(i) + "\r\n";
      it->second = Root() + "wide-" + std::to_string(n) + ".csv";
      WriteFile(it->second, out);
    }
    return it->second;
  }

 private:
  BenchDir() : dir_("velmora-exchange-bench") {}

  RunDir dir_;
  std::map<std::string, std::string> files_;
};

// ---------------------------------------------------------------------------

// `cards` cards into a new data file (into == 0) or one of `into` entries.
void Import(benchmark::State& state, uint64_t cards, uint64_t into) {
  Guarded(state, [&] {
    const std::string input = BenchDir::Get().Cards(cards);
    Session s = BenchDir::Get().Fresh(into);
    HeapPeak heap;
    for (auto _ : state) {
      state.PauseTiming();
      s = BenchDir::Get().Fresh(into);
      state.ResumeTiming();
      heap.Start();
      auto file = std::shared_ptr<velmora::File>(velmora::Env::Posix().OpenExisting(input, false));
      velmora::VcardReader reader([file, at = uint64_t(0)](char* buf, size_t n) mutable {
        const size_t got = file->ReadAt(at, buf, n);
        at += got;
        return got;
      });
      const auto sum = velmora::ImportEntries(s, reader, true);
      heap.Stop();
      if (sum.added != cards) state.SkipWithError("not every card was added");
    }
    state.counters["cards_per_s"] =
        benchmark::Counter(double(cards) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["peak_heap_MiB"] = heap.MiB();
  });
}

// A CSV file of a header as wide as allowed and `rows` short rows: a row
// must cost what it holds, not what the header names.
void ImportWideCsv(benchmark::State& state, uint64_t rows) {
  Guarded(state, [&] {
    const std::string input = BenchDir::Get().WideCsv(rows);
    Session s = BenchDir::Get().Fresh(0);
    for (auto _ : state) {
      state.PauseTiming();
      s = BenchDir::Get().Fresh(0);
      state.ResumeTiming();
      auto file = std::shared_ptr<velmora::File>(velmora::Env::Posix().OpenExisting(input, false));
      velmora::CsvReader reader([file, at = uint64_t(0)](char* buf, size_t n) mutable {
        const size_t got = file->ReadAt(at, buf, n);
        at += got;
        return got;
      });
      if (velmora::ImportEntries(s, reader, true).added != rows)
        state.SkipWithError("not every row was added");
    }
    state.counters["rows_per_s"] =
        benchmark::Counter(double(rows) * double(state.iterations()), benchmark::Counter::kIsRate);
  });
}

// The export's output written to a file, as a redirection of standard
// output would; returns the bytes written.
uint64_t ExportTo(Session& s, velmora::ExchangeFormat format, const std::string& path) {
  const int fd = OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC);
  uint64_t bytes = 0;
  velmora::ExportEntries(s, format, [&](std::string_view b) {
    WriteAll(fd, b.data(), b.size());
    bytes += b.size();
  });
  ::close(fd);
  return bytes;
}

// The baseline: the data file read start to end in 1 MiB blocks, and
// `outBytes` written in 1 MiB blocks.
void ReadAndWrite(const std::string& dataFile, uint64_t outBytes, const std::string& outPath) {
  static std::vector<char> buf(kBlock);
  const int in = OpenFd(dataFile, O_RDONLY);
  for (ssize_t r; (r = ::read(in, buf.data(), kBlock)) != 0;)
    if (r < 0 && errno != EINTR) Fail("read");
  ::close(in);
  const int out = OpenFd(outPath, O_WRONLY | O_CREAT | O_TRUNC);
  for (uint64_t left = outBytes; left > 0;) {
    const size_t n = size_t(std::min<uint64_t>(left, kBlock));
    WriteAll(out, buf.data(), n);
    left -= n;
  }
  ::close(out);
}

// Each iteration times the baseline and then the export, back to back, so
// that both meet the same state of the page cache and of the machine; the
// ratio reported is the median of the iterations'.
void Export(benchmark::State& state, uint64_t n, velmora::ExchangeFormat format) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().Fresh(n);
    // Outside the data folder, where standard output goes.
    const std::string out = BenchDir::Get().Root() + "out";
    const uint64_t bytes = ExportTo(s, format, out);  // also warms the cache
    auto seconds = [](auto body) {
      const auto t0 = Clock::now();
      body();
      return std::chrono::duration<double>(Clock::now() - t0).count();
    };
    HeapPeak heap;
    std::vector<double> ratios, baselines;
    for (auto _ : state) {
      const double baseline = seconds([&] { ReadAndWrite(s.WorkingFilePath(), bytes, out); });
      heap.Start();
      const double exported = seconds([&] { benchmark::DoNotOptimize(ExportTo(s, format, out)); });
      heap.Stop();
      state.SetIterationTime(exported);
      baselines.push_back(baseline);
      ratios.push_back(exported / baseline);
    }
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    state.counters["x_read_write"] = median(ratios);
    state.counters["baseline_ms"] = median(baselines) * 1e3;
    state.counters["output_MB"] = double(bytes) / 1e6;
    state.counters["peak_heap_MiB"] = heap.MiB();
  });
}

// The two worst notes as vCard: the goal is at most 3 s, and at most ten
// times the two notes' size in heap.
void ExportWorstNotes(benchmark::State& state) {
  Guarded(state, [&] {
    Session s = BenchDir::Get().WorstNotes();
    const std::string out = BenchDir::Get().Root() + "out";
    HeapPeak heap;
    for (auto _ : state) {
      heap.Start();
      benchmark::DoNotOptimize(ExportTo(s, velmora::ExchangeFormat::kVcard, out));
      heap.Stop();
    }
    state.counters["peak_heap_MiB"] = heap.MiB();
  });
}

}  // namespace

int main(int argc, char** argv) {
  using velmora::ExchangeFormat;
  for (uint64_t cards : {10000, 100000})
    benchmark::RegisterBenchmark(("ImportVcards/" + std::to_string(cards) + "/new file").c_str(),
                                 [cards](benchmark::State& st) { Import(st, cards, 0); })
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
  // A million cards: the heap must stay what it was for a hundred thousand.
  benchmark::RegisterBenchmark("ImportVcards/1000000/new file",
                               [](benchmark::State& st) { Import(st, 1000000, 0); })
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ImportVcards/100000/into 1000000",
                               [](benchmark::State& st) { Import(st, 100000, 1000000); })
      ->Iterations(3)
      ->Unit(benchmark::kMillisecond);
  for (uint64_t n : {100000, 1000000}) {
    for (auto [name, format] : {std::pair("ExportVcard/", ExchangeFormat::kVcard),
                                std::pair("ExportCsv/", ExchangeFormat::kCsv)})
      benchmark::RegisterBenchmark((name + std::to_string(n)).c_str(),
                                   [n, format](benchmark::State& st) { Export(st, n, format); })
          ->Iterations(n >= 1000000 ? 5 : 11)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
  }

  benchmark::RegisterBenchmark("ImportCsv/200000 short rows under 4096 columns",
                               [](benchmark::State& st) { ImportWideCsv(st, 200000); })
      ->Iterations(3)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ExportVcard/the worst notes", ExportWorstNotes)
      ->Iterations(3)
      ->Unit(benchmark::kMillisecond);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
