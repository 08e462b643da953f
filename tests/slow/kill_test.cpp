// A process killed at a random moment of any operation on a large data file
// must leave every file wholly old or wholly new: never a mix, never a
// shorter file, never none; and what it leaves (a stale temp.tmp included)
// must not harm the next start, search or change.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <random>

#include "platform/text.h"
#include "store/datafile.h"
#include "store/extratext.h"
#include "store/filecommands.h"
#include "store/sort.h"
#include "store/startup.h"
#include "support/records.h"
#include "support/session.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::Rec;
using testing::TestDir;
using Files = std::map<std::string, std::string>;

// The directory's files by their upper-cased names (the program reaches a
// file whatever the case of its name), scratch files left out.
Files FilesIn(const TestDir& dir) {
  Files out;
  for (const std::string& name : dir.Names())
    if (name != "temp.tmp") out[UpperCase(name)] = dir.Read(name);
  return out;
}

struct Operation {
  const char* name;
  std::function<void(Session&)> run;
};

TEST(Kill, EveryOperationLeavesEveryFileWholeAndUsable) {
  std::vector<ContactRecord> records;
  for (int i = 0; i < 100000; ++i)
    records.push_back(Rec("N", "S" + std::to_string(100000 + i), "555"));
  auto appended = records;
  appended.push_back(Rec("A", "AAA"));
  const Files before = {{"FRIENDS.VLM", testing::FileOf(records)},
                        {"UNSORTED.VLM", testing::FileOf(appended)},
                        {"PALS.VLM", "old pals"},
                        {"JOHNSMITH", "old note"},
                        {"VELMORA.INI", "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n"}};
  const Operation operations[] = {
      {"add",
       [](Session& s) {
         s.NewRecord = Rec("A", "AARDVARK", "1");
         InsertRecord(s);
       }},
      {"change",
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S150000", "555");
         s.NewRecord = Rec("N", "AAA", "556");
         ReplaceRecord(s);
       }},
      {"delete",
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S120000", "555");
         RewriteWithout(s, false);
       }},
      {"sort",
       [](Session& s) {
         s.WorkingName = "UNSORTED";
         SortDataFile(s);
       }},
      {"SAVE AS", [](Session& s) { CopyFileReplacing(s, "FRIENDS.VLM", "PALS.VLM"); }},
      {"RENAME", [](Session& s) { RenameFileReplacing(s, "FRIENDS.VLM", "Pals.VLM"); }},
      {"note save", [](Session& s) { SaveExtraText(s, "JOHNSMITH", std::string(3 << 20, 'n')); }},
  };
  const int kills = 200;
  std::mt19937 rng(2026);
  std::map<std::string, int> outcomes;
  for (int k = 0; k < kills; ++k) {
    const Operation& op = operations[k % std::size(operations)];
    SCOPED_TRACE(std::string(op.name) + ", kill " + std::to_string(k));
    // The files a finished operation leaves, and how long it takes.
    TestDir reference;
    for (const auto& [name, bytes] : before) reference.Write(name, bytes);
    Session ref;
    testing::WorkOnFriendsIn(ref, reference.path());
    const auto t0 = std::chrono::steady_clock::now();
    op.run(ref);
    const auto took = std::chrono::steady_clock::now() - t0;
    const Files after = FilesIn(reference);

    TestDir dir;
    for (const auto& [name, bytes] : before) dir.Write(name, bytes);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Session s;
        testing::WorkOnFriendsIn(s, dir.path());
        op.run(s);
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(took) *
                       std::uniform_int_distribution<int>(0, 120)(rng) / 100;
    ::usleep(useconds_t(delay.count()));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << "failed on its own";

    const Files found = FilesIn(dir);
    bool allOld = true;
    for (const auto& [name, bytes] : found) {
      const bool old = before.count(name) && before.at(name) == bytes;
      const bool now = after.count(name) && after.at(name) == bytes;
      ASSERT_TRUE(old || now) << name << ": " << bytes.size() << " bytes, neither old nor new";
      allOld = allOld && old;
    }
    for (const auto& [name, bytes] : before)
      ASSERT_TRUE(found.count(name) || !after.count(name)) << name << " is gone";
    ++outcomes[allOld ? "old" : "new"];

    // The next start, search and change work over whatever was left.
    Session next;
    RunStartUp(next, dir.path());
    size_t seen = 0;
    ReadWorkingFile(
        next, [](uint64_t) {}, [&](RecordView) { ++seen; });
    if (next.WorkingName == "FRIENDS") {
      // What the kill left is passed by, never opened: the change leaves no
      // scratch file of its own beside it.
      const std::vector<std::string> left = dir.Names();
      next.RemovedRecord = Rec("N", "S100001", "555");
      next.NewRecord = Rec("N", "S100001", "557");
      ReplaceRecord(next);
      EXPECT_EQ(dir.Names(), left) << "a scratch file outlived a later change";
    }
  }
  std::printf("[ kill ] %d kills survived: %d left the old files, %d the new\n", kills,
              outcomes["old"], outcomes["new"]);
}

}  // namespace
}  // namespace velmora
