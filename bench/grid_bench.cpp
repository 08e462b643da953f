// Timings of the result grid: a search that fills it with 100,000 and with
// 1,000,000 matching entries, and the deletion of one row from a grid of
// that size. The window is shown on the offscreen platform and the events a
// change queues (layout, painting) are processed inside the timing, so the
// figures include what the user waits for, not only the model.
//
// The data file lives in a fresh directory under $TMPDIR (or /tmp), removed
// at the end.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/codepage.h"
#include "searchedit/tform2.h"
#include "store/contactrecord.h"
#include "store/session.h"

namespace {

namespace fs = std::filesystem;
using velmora::ContactRecord;

// A search BY SURNAME for the key given; the empty key matches every entry.
class NoMainWindow : public velmora::MainWindowLink {
 public:
  QString key;
  QString SearchFieldText() const override { return key; }
  bool SearchByName() const override { return false; }
  void ShowMainWindow() override {}
  void HideMainWindow() override {}
};

fs::path BenchDir() {
  static fs::path dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string leaf = "velmora_grid_bench_";
    leaf += std::to_string(::getpid());
    fs::path d = fs::path(tmp && *tmp ? tmp : "/tmp") / leaf;
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// A sorted data file of n entries with texts of ordinary lengths, the
// surnames starting with `word` (bytes of the code page).
std::string MakeDataFile(int64_t n, const char* word = "SURNAME") {
  std::string name = "G";
  name += std::to_string(n);
  std::ofstream out(BenchDir() / (name + ".VLM"), std::ios::binary);
  ContactRecord r;
  for (int64_t i = 0; i < n; ++i) {
    char surname[40];
    std::snprintf(surname, sizeof surname, "%s%08lld", word, static_cast<long long>(i));
    r.SetTexts(
        {"Firstname", surname, "(012)345-6789", "(098)765-4321", "A comment of some length"});
    out.write(reinterpret_cast<const char*>(r.bytes.data()), ContactRecord::kSize);
  }
  return name;
}

struct Fixture {
  explicit Fixture(int64_t n, const char* word = "SURNAME") {
    session.ProgramDir = BenchDir().string() + "/";
    session.WorkingName = MakeDataFile(n, word);
    session.WorkingExt = "VLM";
    form.show();  // runs the first search
    QApplication::processEvents();
  }
  velmora::Session session;
  NoMainWindow link;
  velmora::TForm2 form{session, link};
};

void BM_RunSearch(benchmark::State& state) {
  Fixture f(state.range(0));
  for (auto _ : state) {
    f.form.RunSearch(1);
    QApplication::processEvents();
  }
  if (f.form.GridRowCount() != state.range(0) + 1) state.SkipWithError("wrong row count");
  state.counters["rows"] = double(f.form.GridRowCount() - 1);
}
BENCHMARK(BM_RunSearch)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A search as people type it, in lower case: every record's surname is
// compared, one in a hundred matches, so the time is the scan's.
// The second argument is the code page of the texts; the third, the
// surnames: 0 Latin, 1 Cyrillic (the UTF-8 search then folds characters, not
// bytes), 2 Japanese in 932.
void BM_TypedSearch(benchmark::State& state) {
  static const struct {
    const char* stored;
    const char* typed;  // UTF-8
  } kSurnames[] = {{"SURNAME", "surname0000"},
                   {"\xd0\x9f\xd0\x95\xd0\xa2\xd0\xa0\xd0\x9e\xd0\x92", "петров0000"},  // ПЕТРОВ
                   {"\x8eR\x93" "c", "山田0000"}};
  velmora::SetTextCodePage(*velmora::CodePage::Find(int(state.range(1))));
  const auto& surname = kSurnames[state.range(2)];
  Fixture f(state.range(0), surname.stored);
  f.link.key = QString::fromUtf8(surname.typed);
  for (auto _ : state) {
    f.form.RunSearch(1);
    QApplication::processEvents();
  }
  if (f.form.GridRowCount() != state.range(0) / 100 + 1) state.SkipWithError("wrong row count");
  velmora::SetTextCodePage(velmora::CodePage::Windows1252());
}
BENCHMARK(BM_TypedSearch)
    ->Args({1'000'000, 1252, 0})
    ->Args({1'000'000, 65001, 0})
    ->Args({1'000'000, 65001, 1})
    ->Args({1'000'000, 932, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RemoveGridRow(benchmark::State& state) {
  Fixture f(state.range(0));
  for (auto _ : state) {
    // A row in the middle, so that half the rows move up.
    f.form.RemoveGridRow((f.form.GridRowCount() - 1) / 2);
    QApplication::processEvents();
  }
}
BENCHMARK(BM_RemoveGridRow)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(BenchDir(), ec);
  return 0;
}
