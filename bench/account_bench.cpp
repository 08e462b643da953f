// Timings of the account's sync against a local Radicale holding 10,000
// contacts, side by side with vdirsyncer syncing the same address book to
// a vdir: a first sync (every card fetched), a sync with nothing changed,
// and one with 100 contacts changed on velmora's side. The address book is
// laid out on disk before Radicale starts, as a server holding it already
// would, and warmed by one listing. Radicale (no login) runs on a free
// loopback port, started and stopped by its pid as the tests' servers are;
// without radicale or vdirsyncer on the PATH the run says so and does
// nothing.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/plainfile.h"
#include "bench/support/rundir.h"
#include "store/contactrecord.h"
#include "support/servers.h"
#include "sync/account.h"

namespace {

using namespace velmora::bench;
using velmora::testing::Installed;
using velmora::testing::RunningRadicale;
using velmora::testing::Shell;

// VELMORA_BENCH_CONTACTS sets another number: Radicale's listing of 10,000
// takes tens of seconds on a loaded machine.
int Contacts() {
  const char* n = std::getenv("VELMORA_BENCH_CONTACTS");
  return n && std::atoi(n) > 100 ? std::atoi(n) : 10000;
}



// The server, the data file and the vdir every benchmark of the run shares.
struct World {
  World() : dir("velmora-account-bench") {
    for (const char* p : {"radicale", "vdirsyncer", "curl"})
      if (!Installed(p)) problem = std::string(p) + " is not installed (scripts/deps.sh installs it)";
    if (!problem.empty()) return;
    server = std::make_unique<RunningRadicale>();
    server->Stop();
    const std::string book = server->dir() / "store/collection-root/bench/book/";
    std::filesystem::create_directories(book);
    WriteFile(book + ".Radicale.props", "{\"tag\": \"VADDRESSBOOK\"}");
    for (int i = 0, count = Contacts(); i < count; ++i) {
      const std::string n = std::to_string(i);
      WriteFile(book + "c" + n + ".vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c" + n + "\r\nFN:Name" + n +
                                         " Surname" + n + "\r\nN:Surname" + n + ";Name" + n +
                                         ";;;\r\nTEL:+49 30 " + n + "\r\nEMAIL:n" + n +
                                         "@example.org\r\nNOTE:met at " + n + "\r\nEND:VCARD\r\n");
    }
    server->Start();
    url = server->url() + "/bench/book/";
    // Radicale's cache of the items, made by the first listing.
    server->Request("PROPFIND", "/bench/book/", {}, {}, {}, {"Depth: 1"});
    account = {url, "", url, "BENCH", ""};
    dir.EmptyWork();
    WriteFile(dir.WorkingFile(), "");

    const std::string vdir = dir.Root() + "vdir/";
    std::filesystem::create_directories(vdir);
    std::filesystem::create_directories(dir.Root() + "status/");
    WriteFile(dir.Root() + "vdirsyncer.conf",
          "[general]\nstatus_path = \"" + dir.Root() +
              "status/\"\n\n[pair book]\na = \"local\"\n"
              "b = \"server\"\ncollections = null\n\n[storage local]\ntype = \"filesystem\"\n"
              "path = \"" +
              vdir +
              "\"\nfileext = \".vcf\"\n\n[storage server]\ntype = \"carddav\"\n"
              "url = \"" +
              url + "\"\n");
  }
  int Vdirsyncer(const std::string& what) {
    return Shell("vdirsyncer -c '" + dir.Root() + "vdirsyncer.conf' " + what + " >>'" + dir.Root() +
                 "vdirsyncer.log' 2>&1");
  }

  RunDir dir;
  std::unique_ptr<RunningRadicale> server;  // stopped by its pid when the run ends
  std::string problem, url;
  velmora::Account account;
};

World& TheWorld() {
  static World world;
  return world;
}

void Velmora(benchmark::State& state, const std::function<void()>& before) {
  World& w = TheWorld();
  if (!w.problem.empty()) return state.SkipWithError(w.problem.c_str());
  for (auto _ : state) {
    state.PauseTiming();
    velmora::Session s = w.dir.WorkSession();
    Guarded(state, [&] {
      if (before) before();
      state.ResumeTiming();
      velmora::SyncWithAccount(s, w.account, "");
    });
  }
}

void Vdirsyncer(benchmark::State& state, const std::function<void()>& before) {
  World& w = TheWorld();
  if (!w.problem.empty()) return state.SkipWithError(w.problem.c_str());
  for (auto _ : state) {
    state.PauseTiming();
    if (before) before();
    state.ResumeTiming();
    if (w.Vdirsyncer("sync") != 0) state.SkipWithError("vdirsyncer sync failed");
  }
}

void BM_VelmoraFirstSync(benchmark::State& state) { Velmora(state, nullptr); }
BENCHMARK(BM_VelmoraFirstSync)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_VelmoraNothingChanged(benchmark::State& state) { Velmora(state, nullptr); }
BENCHMARK(BM_VelmoraNothingChanged)->Unit(benchmark::kMillisecond)->Iterations(1);

// 100 entries' comments changed in the data file: 100 cards written.
void BM_VelmoraHundredChanges(benchmark::State& state) {
  Velmora(state, [] {
    World& w = TheWorld();
    std::string bytes = ReadFile(w.dir.WorkingFile());
    constexpr size_t k = velmora::ContactRecord::kSize;
    const size_t stride = bytes.size() / k / 100;
    if (stride == 0) throw std::runtime_error("the first sync brought too few");
    for (size_t i = 0; i < 100; ++i) {
      const size_t at = i * stride * k;
      velmora::ContactRecord r = velmora::ContactRecord::FromBytes(
          reinterpret_cast<const unsigned char*>(bytes.data()) + at);
      r.SetText(velmora::ContactRecord::kComments, "changed " + std::to_string(i));
      bytes.replace(at, k, reinterpret_cast<const char*>(r.bytes.data()), k);
    }
    WriteFile(w.dir.WorkingFile(), bytes);
  });
}
BENCHMARK(BM_VelmoraHundredChanges)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_VdirsyncerFirstSync(benchmark::State& state) {
  Vdirsyncer(state, [] { TheWorld().Vdirsyncer("discover"); });
}
BENCHMARK(BM_VdirsyncerFirstSync)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_VdirsyncerNothingChanged(benchmark::State& state) { Vdirsyncer(state, nullptr); }
BENCHMARK(BM_VdirsyncerNothingChanged)->Unit(benchmark::kMillisecond)->Iterations(1);

// 100 cards' notes changed in the vdir: 100 cards written.
void BM_VdirsyncerHundredChanges(benchmark::State& state) {
  Vdirsyncer(state, [] {
    const std::string vdir = TheWorld().dir.Root() + "vdir/";
    int n = 0, changed = 0;
    for (const auto& e : std::filesystem::directory_iterator(vdir)) {
      if (e.path().extension() != ".vcf" || n++ % (Contacts() / 100) != 0) continue;
      if (changed++ == 100) break;
      std::string card = ReadFile(e.path());
      card.insert(card.rfind("END:VCARD"), "X-CHANGED:" + std::to_string(n) + "\r\n");
      WriteFile(e.path(), card);
    }
  });
}
BENCHMARK(BM_VdirsyncerHundredChanges)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

// The server is reached through Qt's network classes, which need an
// application object.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
