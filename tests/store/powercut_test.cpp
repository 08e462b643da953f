// Every operation that writes, with the power cut after each of its file
// calls in turn and once it has returned: after the restart every file is
// wholly as before or wholly as the operation left it, and after its end
// wholly as it left it. A missing sync shows here as a file that is empty,
// half written, gone or back as it was.

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "platform/text.h"
#include "store/datafile.h"
#include "store/extratext.h"
#include "store/filecommands.h"
#include "store/sort.h"
#include "store/startup.h"
#include "support/powercutenv.h"
#include "support/records.h"
#include "support/session.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::FileOf;
using testing::Rec;

std::vector<ContactRecord> Sorted(int n, const std::string& phone = "555") {
  std::vector<ContactRecord> out;
  for (int i = 0; i < n; ++i) out.push_back(Rec("N", "S" + std::to_string(100000 + i), phone));
  return out;
}

// A sync state, made for the data file holding `data`: beside any other
// content of its name it would take every entry for deleted.
std::string StateOf(const std::string& data) {
  return "state of " + std::to_string(std::hash<std::string>{}(data));
}

// Each state in the folder lies beside the data file it was made for, or
// beside none of its name in any letter case.
void ExpectNoStrayState(const std::map<std::string, std::string>& files, const std::string& where) {
  const std::string ending = ".sync";
  for (const auto& [state, bytes] : files) {
    if (state[0] != '.' || !state.ends_with(ending)) continue;
    const std::string data = state.substr(1, state.size() - 1 - ending.size());
    for (const auto& [name, content] : files) {
      if (SameName(name, data)) {
        EXPECT_EQ(bytes, StateOf(content)) << where << ": " << state << " beside " << name;
      }
    }
  }
}

struct Operation {
  const char* name;
  std::map<std::string, std::string> files;  // the directory before
  std::function<void(Session&)> run;
};

std::vector<Operation> Operations() {
  const std::string friends = FileOf(Sorted(20000));  // several blocks
  auto appended = Sorted(30);
  appended.push_back(Rec("A", "AAA"));
  const std::string ini = "; mine\r\n[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n";
  const std::map<std::string, std::string> base = {{"FRIENDS.VLM", friends}, {"velmora.ini", ini}};
  auto with = [&](std::map<std::string, std::string> more) {
    more.insert(base.begin(), base.end());
    return more;
  };
  return {
      {"add", base,
       [](Session& s) {
         s.NewRecord = Rec("A", "AARDVARK", "1");
         InsertRecord(s);
       }},
      {"change", base,
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S100007", "555");
         s.NewRecord = Rec("N", "A", "556");
         ReplaceRecord(s);
       }},
      {"delete", base,
       [](Session& s) {
         s.RemovedRecord = Rec("N", "S100007", "555");
         RewriteWithout(s, false);
       }},
      {"sort", with({{"FRIENDS.VLM", FileOf(appended)}}), [](Session& s) { SortDataFile(s); }},
      {"NEW",
       with({{"brink.vlm", FileOf({Rec("BRINK", "SYSTEMS")})},
             {"PALS.VLM", "old pals"},
             {".pals.vlm.sync", StateOf("old pals")}}),
       [](Session& s) { CopyFileReplacing(s, "brink.vlm", "PALS.VLM"); }},
      {"SAVE AS", with({{"COPY.VLM", "old copy"}, {".COPY.VLM.sync", StateOf("old copy")}}),
       [](Session& s) { CopyFileReplacing(s, "FRIENDS.VLM", "COPY.VLM"); }},
      {"RENAME",
       with({{"pals.vlm", "old pals"},
             {".pals.vlm.sync", StateOf("old pals")},
             {".FRIENDS.VLM.sync", StateOf(friends)}}),
       [](Session& s) { RenameFileReplacing(s, "FRIENDS.VLM", "Pals.VLM"); }},
      {"DELETE", with({{"OLD.VLM", "old"}, {".OLD.VLM.sync", StateOf("old")}}),
       [](Session& s) { DeleteDataFile(s, "OLD.VLM"); }},
      {"import into a new name", with({{".NEW.VLM.sync", StateOf("an earlier NEW.VLM")}}),
       [](Session& s) {
         s.WorkingName = "NEW";
         InsertRecords(
             s, [n = 0](ContactRecord& r) mutable { return n++ < 2 && (r = Rec("A", "B"), true); },
             {}, true);
       }},
      {"note save", with({{"JOHNSMITH", "old note"}}),
       [](Session& s) { SaveExtraText(s, "JOHNSMITH", std::string(300000, 'n')); }},
      {"default file", base, [](Session& s) { SetDefaultFile(s, "PALS"); }},
      {"start-up", {{"brink.vlm", "changed"}}, [](Session& s) { RunStartUp(s, s.ProgramDir); }},
  };
}

// The directory's files, scratch files left out: a stale one is harmless.
std::map<std::string, std::string> Files(const testing::TestDir& dir) {
  std::map<std::string, std::string> out;
  for (const std::string& name : dir.Names())
    if (name.size() < 4 || name.substr(name.size() - 4) != ".tmp") out[name] = dir.Read(name);
  return out;
}

// Runs the operation over the files, with the power cut after `cut` calls
// (never when negative: the directory is then left as the operation left
// it); returns the number of calls. After a cut the directory is as found
// after the restart.
int RunOver(const testing::TestDir& dir, const Operation& op, int cut) {
  for (const auto& [name, bytes] : op.files) dir.Write(name, bytes);
  testing::PowerCutEnv env(dir.path());
  Session s(env);
  testing::WorkOnFriendsIn(s, dir.path());
  env.CutAfter(cut);
  try {
    op.run(s);
  } catch (const testing::PowerCut&) {
  }
  const int calls = env.calls();
  if (cut >= 0) env.Restore();
  return calls;
}

TEST(PowerCut, EveryFileIsWhollyOldOrWhollyNewAfterACutAnywhere) {
  int points = 0;
  for (const Operation& op : Operations()) {
    testing::TestDir after;
    const int calls = RunOver(after, op, -1);
    const auto oldFiles = op.files, newFiles = Files(after);
    ASSERT_NE(oldFiles, newFiles) << op.name;
    // The last cut comes after the last call: what an operation has done
    // once it returns must survive whole.
    for (int cut = 0; cut <= calls; ++cut, ++points) {
      testing::TestDir dir;
      RunOver(dir, op, cut);
      const auto found = Files(dir);
      ExpectNoStrayState(found, std::string(op.name) + ", cut after " + std::to_string(cut));
      if (cut == calls) {
        EXPECT_EQ(found, newFiles) << op.name << ", cut after its end";
        continue;
      }
      for (const auto& [name, bytes] : found) {
        const bool old = oldFiles.count(name) && oldFiles.at(name) == bytes;
        const bool now = newFiles.count(name) && newFiles.at(name) == bytes;
        EXPECT_TRUE(old || now) << op.name << ", cut after " << cut << " calls: " << name
                                << " is neither (" << bytes.size() << " bytes)";
      }
      for (const auto& [name, bytes] : oldFiles)
        EXPECT_TRUE(found.count(name) || !newFiles.count(name))
            << op.name << ", cut after " << cut << " calls: " << name << " is gone";
    }
  }
  std::printf("[ power cut ] %d cut points tried\n", points);
}

}  // namespace
}  // namespace velmora
