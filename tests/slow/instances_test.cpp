// Two instances working on one data file at once: every addition, change
// and deletion that either reported as done is in the final file exactly
// once, and the entries neither touched are all still there. A lock held
// too long fails an operation cleanly.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "platform/ioerror.h"
#include "store/datafile.h"
#include "store/sort.h"
#include "support/records.h"
#include "support/session.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::Rec;
using testing::TestDir;

// One instance: adds, changes and deletes entries of its own (NAME "P" +
// who), a few milliseconds apart, for `seconds`, then writes the entries it
// believes are stored, one identity text per line, to `out`. An operation that fails counts as not
// done.
int Work(const std::string& dir, int who, int seconds, const std::string& out) {
  Session s;
  testing::WorkOnFriendsIn(s, dir);
  std::mt19937 rng(who);
  std::map<int, int> mine;  // entry number -> its PHONE1 version
  int next = 0, failed = 0, done = 0;
  const std::string name = "P" + std::to_string(who);
  auto entry = [&](int n, int version) {
    return Rec(name, "E" + std::to_string(n), std::to_string(version));
  };
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const int what = mine.empty() ? 0 : int(rng() % 3);
    auto it = mine.begin();
    if (!mine.empty()) std::advance(it, rng() % mine.size());
    try {
      if (what == 0) {
        s.NewRecord = entry(next, 0);
        InsertRecord(s);
        mine[next++] = 0;
      } else if (what == 1) {
        s.RemovedRecord = entry(it->first, it->second);
        s.NewRecord = entry(it->first, it->second + 1);
        ReplaceRecord(s);
        ++it->second;
      } else {
        s.RemovedRecord = entry(it->first, it->second);
        RewriteWithout(s, false);
        mine.erase(it);
      }
      ++done;
    } catch (const IoError& e) {
      std::fprintf(stderr, "instance %d: %s\n", who, e.what());
      ++failed;
    }
    // People's actions come apart; an instance that took the lock back the
    // moment it let go would starve the other, which no user can do.
    ::usleep(useconds_t(rng() % 20000));
  }
  std::ofstream log(out);
  for (const auto& [n, version] : mine) log << entry(n, version).IdentityText() << "\n";
  std::printf("[ instances ] instance %d: %d operations done, %d failed\n", who, done, failed);
  std::fflush(stdout);
  return failed;
}

TEST(TwoInstances, EveryChangeReportedAsDoneIsInTheFileExactlyOnce) {
  TestDir dir;
  std::vector<ContactRecord> records;
  for (int i = 0; i < 100000; ++i)
    records.push_back(Rec("N", "S" + std::to_string(100000 + i), "555"));
  dir.Write("FRIENDS.VLM", testing::FileOf(records));

  pid_t pids[2];
  for (int who = 0; who < 2; ++who) {
    pids[who] = ::fork();
    ASSERT_GE(pids[who], 0);
    if (pids[who] == 0)
      ::_exit(Work(dir.path(), who, 20, dir / ("done" + std::to_string(who))) > 0);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an operation waited in vain";
  }

  std::multiset<std::string> stored;
  for (const ContactRecord& r : testing::RecordsOf(dir.Read("FRIENDS.VLM")))
    stored.insert(r.IdentityText());
  std::multiset<std::string> expected;
  for (const ContactRecord& r : records) expected.insert(r.IdentityText());
  size_t done = 0;
  for (int who = 0; who < 2; ++who) {
    std::ifstream in(dir / ("done" + std::to_string(who)));
    for (std::string line; std::getline(in, line); ++done) expected.insert(line);
  }
  EXPECT_TRUE(stored == expected) << stored.size() << " records stored, " << expected.size()
                                  << " expected";
  std::printf("[ instances ] %zu entries of the two instances kept, file of %zu records\n", done,
              stored.size());
}

TEST(TwoInstances, ALockHeldTooLongFailsTheOperationAndChangesNothing) {
  TestDir dir;
  const std::string content = testing::FileOf({Rec("A", "A"), Rec("B", "B")});
  dir.Write("FRIENDS.VLM", content);
  auto held = Env::Posix().LockDir(dir.path(), 0);  // as another instance would
  Session s;
  testing::WorkOnFriendsIn(s, dir.path());
  s.NewRecord = Rec("C", "C");
  try {
    InsertRecord(s);
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_STREQ(e.what(), "The data folder is busy");
  }
  EXPECT_EQ(dir.Read("FRIENDS.VLM"), content);
  held.reset();
  InsertRecord(s);
  EXPECT_EQ(testing::RecordsOf(dir.Read("FRIENDS.VLM")).size(), 3u);
}

}  // namespace
}  // namespace velmora
