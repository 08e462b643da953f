// A process killed in the middle of changing a large data file must leave
// it wholly old or wholly new: never a mix, never a shorter file, never none.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "store/sort.h"
#include "support/records.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::Rec;
using testing::TestDir;

void Change(const std::string& programDir) {
  Session s;
  s.ProgramDir = programDir;
  s.WorkingName = "FRIENDS";
  s.WorkingExt = "VLM";
  s.RemovedRecord = Rec("N", "S150000", "555");
  s.NewRecord = Rec("N", "AAA", "556");  // belongs at the front
  ReplaceRecord(s);
}

TEST(Crash, AKilledChangeLeavesTheDataFileWhole) {
  std::vector<ContactRecord> records;
  for (int i = 0; i < 200000; ++i) records.push_back(Rec("N", "S" + std::to_string(100000 + i), "555"));
  const std::string old = testing::FileOf(records);

  // The file a finished change leaves, and how long it takes.
  TestDir reference;
  reference.Write("FRIENDS.VLM", old);
  auto t0 = std::chrono::steady_clock::now();
  Change(reference.path());
  const auto took = std::chrono::steady_clock::now() - t0;
  const std::string changed = reference.Read("FRIENDS.VLM");
  records.erase(records.begin() + 50000);
  records.insert(records.begin(), Rec("N", "AAA", "556"));
  ASSERT_TRUE(changed == testing::FileOf(records));

  TestDir dir;
  std::map<std::string, int> seen;
  const int trials = 16;
  for (int trial = 0; trial < trials; ++trial) {
    dir.Write("FRIENDS.VLM", old);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Change(dir.path());
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    auto delay = took * (trial + 1) / trials * 3 / 2;
    ::usleep(useconds_t(std::chrono::duration_cast<std::chrono::microseconds>(delay).count()));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << "the change failed on its own";

    const std::string now = dir.Read("FRIENDS.VLM");
    const char* state = now == old ? "old" : now == changed ? "changed" : nullptr;
    ASSERT_NE(state, nullptr) << "trial " << trial << ": a file of " << now.size() << " bytes";
    ++seen[state];
  }
  for (const auto& [state, n] : seen) std::printf("  %s: %d of %d\n", state.c_str(), n, trials);
}

}  // namespace
}  // namespace velmora
