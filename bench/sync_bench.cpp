// Timings of the sync with a vdir. A sync of a 100,000-entry data file with
// 100 changes on each side since the last sync (goal: under 2 s, heap
// bounded by the changes plus a small state per contact), and a first sync
// of 100,000 entries into an empty vdir set against writing the same cards
// with plain write and rename ("x_plain": the sync's time as a multiple of
// that baseline). The files live in a fresh directory under $TMPDIR (or
// /tmp), removed at the end. A third case changes the comment of every
// entry and syncs, set against a first sync of as many.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/heap.h"
#include "bench/support/plainfile.h"
#include "bench/support/rundir.h"
#include "exchange/vcard.h"
#include "store/contactrecord.h"
#include "store/session.h"
#include "sync/sync.h"

namespace {

using velmora::ContactRecord;
using velmora::RecordTexts;
using velmora::Session;
using namespace velmora::bench;
using Clock = std::chrono::steady_clock;

constexpr int kEntries = 100000;

RecordTexts Entry(int i) {
  const std::string n = std::to_string(i);
  return {"Name" + n, "Surname" + n, "+49 30 " + n, i % 2 ? "0171 " + n : "", "met at " + n};
}

void WriteDataFile(const RunDir& dir, int entries) {
  dir.EmptyWork();
  std::string bytes;
  for (int i = 0; i < entries; ++i) {
    ContactRecord r;
    r.SetTexts(Entry(i));
    bytes.append(reinterpret_cast<const char*>(r.bytes.data()), ContactRecord::kSize);
  }
  FILE* f = std::fopen(dir.WorkingFile().c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}



void BM_SyncHundredChangesEachSide(benchmark::State& state) {
  RunDir dir("velmora-sync-bench");
  const std::string vdir = dir.Root() + "cards/";
  WriteDataFile(dir, kEntries);
  Session s = dir.WorkSession();
  velmora::SyncWithVdir(s, vdir);
  std::vector<std::string> cards;
  for (const auto& e : std::filesystem::directory_iterator(vdir))
    if (e.path().extension() == ".vcf") cards.push_back(e.path());
  HeapPeak heap;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // 100 entries edited here (one field each), 100 cards edited there.
    std::string bytes = ReadFile(dir.WorkingFile());
    for (int i = 0; i < 100; ++i) {
      ContactRecord r = ContactRecord::FromBytes(
          reinterpret_cast<const unsigned char*>(bytes.data()) + size_t(i * 997) * 135);
      r.SetText(ContactRecord::kComments, "round " + std::to_string(round));
      bytes.replace(size_t(i * 997) * 135, 135, reinterpret_cast<const char*>(r.bytes.data()), 135);
    }
    WriteFile(dir.WorkingFile(), bytes);
    for (int i = 0; i < 100; ++i) {
      const std::string& path = cards[size_t(i * 991 + 500) % cards.size()];
      std::string card = ReadFile(path);
      card.insert(card.rfind("END:VCARD"), "EMAIL:r" + std::to_string(round) + "@example.org\r\n");
      WriteFile(path, card);
    }
    ++round;
    state.ResumeTiming();
    heap.Start();
    Guarded(state, [&] { velmora::SyncWithVdir(s, vdir); });
    heap.Stop();
  }
  state.counters["heap_MiB"] = heap.MiB();
}
BENCHMARK(BM_SyncHundredChangesEachSide)->Unit(benchmark::kMillisecond)->Iterations(3);

// The cards a first sync writes, written again with plain write and rename
// into another folder: the time the disk needs for the same files.
double PlainWriteRename(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(to);
  std::vector<std::pair<std::string, std::string>> cards;
  for (const auto& e : std::filesystem::directory_iterator(from))
    if (e.path().extension() == ".vcf") cards.emplace_back(e.path().filename(), ReadFile(e.path()));
  const auto start = Clock::now();
  for (const auto& [name, bytes] : cards) {
    const std::string tmp = to + "." + name + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) std::abort();
    ::close(fd);
    ::rename(tmp.c_str(), (to + name).c_str());
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_FirstSyncIntoAnEmptyVdir(benchmark::State& state) {
  RunDir dir("velmora-sync-bench");
  WriteDataFile(dir, kEntries);
  HeapPeak heap;
  double synced = 0, plain = 0;
  int round = 0;
  for (auto _ : state) {
    const std::string vdir = dir.Root() + "cards" + std::to_string(round) + "/";
    state.PauseTiming();
    std::filesystem::remove(dir.Work() + ".BENCH.VLM.sync");
    Session s = dir.WorkSession();
    state.ResumeTiming();
    heap.Start();
    const auto start = Clock::now();
    Guarded(state, [&] { velmora::SyncWithVdir(s, vdir); });
    synced += std::chrono::duration<double>(Clock::now() - start).count();
    heap.Stop();
    state.PauseTiming();
    plain += PlainWriteRename(vdir, dir.Root() + "plain" + std::to_string(round++) + "/");
    state.ResumeTiming();
  }
  state.counters["heap_MiB"] = heap.MiB();
  state.counters["x_plain"] = synced / plain;
}
BENCHMARK(BM_FirstSyncIntoAnEmptyVdir)->Unit(benchmark::kMillisecond)->Iterations(2);

// The comment of every one of 50,000 entries changed, then a sync, which
// rewrites every card: set against a first sync of the same entries
// ("x_first"); the goal is no more than twice.
void BM_SyncEveryCommentChanged(benchmark::State& state) {
  constexpr int kChanged = 50000;
  RunDir dir("velmora-sync-bench");
  HeapPeak heap;
  double first = 0, full = 0;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    WriteDataFile(dir, kChanged);
    std::filesystem::remove(dir.Work() + ".BENCH.VLM.sync");
    const std::string vdir = dir.Root() + "all" + std::to_string(round++) + "/";
    Session s = dir.WorkSession();
    auto start = Clock::now();
    velmora::SyncWithVdir(s, vdir);
    first += std::chrono::duration<double>(Clock::now() - start).count();
    std::string bytes = ReadFile(dir.WorkingFile());
    for (int i = 0; i < kChanged; ++i) {
      auto* at = reinterpret_cast<const unsigned char*>(bytes.data()) + size_t(i) * 135;
      ContactRecord r = ContactRecord::FromBytes(at);
      r.SetText(ContactRecord::kComments, "changed " + std::to_string(i));
      bytes.replace(size_t(i) * 135, 135, reinterpret_cast<const char*>(r.bytes.data()), 135);
    }
    WriteFile(dir.WorkingFile(), bytes);
    state.ResumeTiming();
    heap.Start();
    start = Clock::now();
    Guarded(state, [&] { velmora::SyncWithVdir(s, vdir); });
    full += std::chrono::duration<double>(Clock::now() - start).count();
    heap.Stop();
  }
  state.counters["heap_MiB"] = heap.MiB();
  state.counters["x_first"] = full / first;
}
BENCHMARK(BM_SyncEveryCommentChanged)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
