// Every file step of every operation, made to fail in turn: the operation
// must raise the error of that step, leave the files exactly as they were
// (or wholly replaced, when only the final directory sync failed), remove its
// scratch file and close everything it opened.

#include <gmock/gmock.h>

#include <cstdio>
#include <functional>

#include "platform/ioerror.h"
#include "store/datafile.h"
#include "store/sort.h"
#include "store/startup.h"
#include "store/store_fixture.h"

namespace velmora {
namespace {

using testing::FileOf;
using testing::Rec;

struct Scenario {
  const char* name;
  std::string file;  // the file the operation changes
  std::function<void(testing::TestDir&)> setUp;
  std::function<void(Session&)> run;
  // What a failure at a step reports: the I/O error, or (false) its own text.
  bool raisesIoError = true;
  // The change is synced before the file is closed: a failed close leaves it.
  bool doneBeforeClose = false;
  // The change is a removal whose failure is not reported: the file stays.
  bool removalUnreported = false;
};

std::vector<ContactRecord> Sorted(int n) {
  std::vector<ContactRecord> out;
  for (int i = 0; i < n; ++i) out.push_back(Rec("N", "S" + std::to_string(100000 + i), "555"));
  return out;
}

// Records for an import, in no order, some with keys the file has.
std::function<bool(ContactRecord&)> Adding(int n) {
  return [n, i = 0](ContactRecord& r) mutable {
    if (i == n) return false;
    r = Rec("N", "S" + std::to_string(100000 + (i++ * 37) % 60), "556");
    return true;
  };
}

std::vector<Scenario> Scenarios() {
  auto working = [](std::vector<ContactRecord> records, std::string tail = "") {
    return [records, tail](testing::TestDir& d) { d.Write("FRIENDS.VLM", FileOf(records) + tail); };
  };
  auto big = Sorted(20000);  // several read blocks
  auto appended = Sorted(50);
  appended.push_back(Rec("A", "AAA"));
  auto shuffled = Sorted(100);
  std::reverse(shuffled.begin(), shuffled.end());

  return {
      {"append", "FRIENDS.VLM", working(Sorted(3), "tail"),
       [](Session& s) {
         AppendRecord(s, {"X", "Y", "1", "2", "3"});
       },
       true, /*doneBeforeClose=*/true},
      {"delete", "FRIENDS.VLM", working(big),
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S100007", "555");
         RewriteWithout(s, false);
       }},
      {"change", "FRIENDS.VLM", working(Sorted(10)),
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S100003", "555");
         s.NewRecord = Rec("N", "S100003", "556");
         RewriteWithout(s, true);
       }},
      {"change in one pass", "FRIENDS.VLM", working(big),
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S115000", "555");
         s.NewRecord = Rec("N", "S100001", "556");
         ReplaceRecord(s);
       }},
      {"change of a file out of order", "FRIENDS.VLM", working(shuffled),
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S100050", "555");
         s.NewRecord = Rec("N", "S100050", "556");
         ReplaceRecord(s, {.chunkRecords = 30, .mergeBufferBytes = 135 * 8});
       }},
      {"import", "FRIENDS.VLM", working(Sorted(50), "tail"),
       [](Session& s) {
         InsertRecords(s, Adding(20), {.chunkRecords = 6, .mergeBufferBytes = 135 * 4});
       }},
      {"import into a file out of order", "FRIENDS.VLM", working(shuffled),
       [](Session& s) {
         InsertRecords(s, Adding(20),
                       {.windowRecords = 4, .chunkRecords = 6, .mergeBufferBytes = 135 * 4});
       }},
      {"import into a new file", "FRIENDS.VLM",
       [](testing::TestDir& d) { std::remove((d / "FRIENDS.VLM").c_str()); },
       [](Session& s) { InsertRecords(s, Adding(20), {.chunkRecords = 6}, true); }},
      {"sort appended", "FRIENDS.VLM", working(appended, "tail"),
       [](Session& s) { SortDataFile(s); }},
      {"sort in memory", "FRIENDS.VLM", working(shuffled), [](Session& s) { SortDataFile(s); }},
      {"sort externally", "FRIENDS.VLM", working(shuffled, "t"),
       [](Session& s) {
         SortDataFile(s, {.windowRecords = 4, .chunkRecords = 30, .mergeBufferBytes = 135 * 8});
       }},
      {"orphan text", "JOHNSMITH",
       [](testing::TestDir& d) {
         d.Write("FRIENDS.VLM", FileOf(Sorted(5)));
         d.Write("JOHNSMITH", "note");
       },
       [](Session& s) { RemoveOrphanText(s, "JOHNSMITH"); }, true, false,
       /*removalUnreported=*/true},
      {"sample file", "brink.vlm",
       [](testing::TestDir& d) { d.Write("brink.vlm", "changed by the user"); },
       [](Session& s) { WriteSampleFile(s); }},
      {"configuration", "velmora.ini",
       [](testing::TestDir& d) { std::remove((d / "velmora.ini").c_str()); },
       [](Session& s) { CreateConfigFile(s); }},
      {"default file", "velmora.ini",
       [](testing::TestDir& d) {
         d.Write("velmora.ini", "; mine\r\n[filenames]\r\ndefaultfile=old\r\n");
       },
       [](Session& s) { SetDefaultFile(s, "NEW"); }, false},
  };
}

class FileStepFaults : public testing::StoreTest, public ::testing::WithParamInterface<int> {
 protected:
  std::string Content(const std::string& name) {
    return dir.Exists(name) ? dir.Read(name) : "<none>";
  }
  // The scenario's files, without a scratch file an earlier failed removal
  // left: one in the way changes the steps a save takes.
  void Prepare(const Scenario& sc) {
    std::remove((dir / "temp.tmp").c_str());
    sc.setUp(dir);
  }
};

TEST_P(FileStepFaults, LeaveTheFilesAsTheyWereAndNothingOpen) {
  const int err = GetParam();
  for (const Scenario& sc : Scenarios()) {
    SCOPED_TRACE(sc.name);
    // A clean run gives the steps and the new content.
    Prepare(sc);
    const std::string before = Content(sc.file);
    env.FailAt(-1, 0);
    sc.run(s);
    const std::string after = Content(sc.file);
    const std::vector<std::string> steps = env.log();
    ASSERT_FALSE(steps.empty());

    for (size_t k = 0; k < steps.size(); ++k) {
      SCOPED_TRACE("failing step " + std::to_string(k) + " (" + steps[k] + ")");
      Prepare(sc);
      env.FailAt(int(k), err);
      bool threw = false;
      try {
        sc.run(s);
      } catch (const IoError& e) {
        threw = true;
        EXPECT_TRUE(sc.raisesIoError);
        EXPECT_EQ(e.code(), IoCodeFromErrno(err));
        EXPECT_EQ(std::string(e.what()), IoError::TextFor(IoCodeFromErrno(err)));
      } catch (const AppError& e) {
        threw = true;
        EXPECT_FALSE(sc.raisesIoError);
        EXPECT_THAT(e.what(), ::testing::StartsWith("Unable to write to "));
      }
      ASSERT_TRUE(env.fired());
      const std::string now = Content(sc.file);
      const bool orphanKept = steps[k] == "remove" && sc.removalUnreported;
      if (threw) {
        // After the rename only the directory sync can fail: then the new file
        // stands. A record appended and synced stays when only closing fails.
        bool done = steps[k] == "syncdir" || (steps[k] == "close" && sc.doneBeforeClose);
        EXPECT_TRUE(now == (done ? after : before))
            << "size " << now.size() << ", expected " << (done ? after : before).size();
      } else {
        // Unreported: a failed deletion of an orphan text, or a failed removal of
        // a scratch file after which the operation went on and finished.
        EXPECT_TRUE(now == (orphanKept ? before : after)) << "size " << now.size();
        EXPECT_TRUE(orphanKept || steps[k] == "remove");
      }
      // A scratch file whose removal failed stays; every other is gone.
      EXPECT_TRUE(steps[k] == "remove" || !dir.Exists("temp.tmp"));
      EXPECT_FALSE(dir.Exists("velmora.ini.tmp"));
      EXPECT_EQ(env.openFiles(), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Errors, FileStepFaults, ::testing::Values(ENOSPC, EIO, EACCES));

}  // namespace
}  // namespace velmora
