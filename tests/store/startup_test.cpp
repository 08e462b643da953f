#include "store/startup.h"

#include <gmock/gmock.h>

#include "platform/ioerror.h"
#include "platform/messagedialog.h"
#include "searchedit/cannotedit.h"
#include "support/dialogs.h"
#include "support/fakeenv.h"
#include "support/records.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;
using testing::FaultEnv;
using testing::TestDir;

const std::string kDefaultIni = "\r\n[filenames]\r\nextention=vlm\r\ndefaultfile=brink\r\n\r\n";

std::string SampleBytes() {
  std::string b(135, '\0');
  auto put = [&](size_t at, const std::string& t) {
    b[at] = char(t.size());
    b.replace(at + 1, t.size(), t);
  };
  put(0, "BRINK");
  put(21, "SYSTEMS");
  put(42, "(000)555-0147");
  put(63, "(000)555-0182");
  put(84, "Sample entry, do not edit");
  return b;
}

class StartUp : public ::testing::Test {
 protected:
  void Start() { RunStartUp(s, dir.path()); }
  TestDir dir;
  FaultEnv env;
  Session s{env};
};

TEST_F(StartUp, FirstStartInAnEmptyDirectoryWritesTheTwoFilesExactly) {
  Start();
  EXPECT_THAT(dir.Names(), ElementsAre("brink.vlm", "velmora.ini"));
  EXPECT_EQ(dir.Read("brink.vlm"), SampleBytes());
  EXPECT_EQ(dir.Read("velmora.ini"), kDefaultIni);
  EXPECT_EQ(kDefaultIni.size(), 51u);
  EXPECT_EQ(s.ProgramDir, dir.path());
  EXPECT_EQ(s.WorkingName, "BRINK");
  EXPECT_EQ(s.WorkingExt, "VLM");
  EXPECT_EQ(s.WorkingFilePath(), dir / "brink.vlm");
  EXPECT_EQ(env.openFiles(), 0);
}

TEST_F(StartUp, TheSampleFileIsRestoredAtEveryStartWhateverItsSpelling) {
  dir.Write("BRINK.VLM", testing::FileOf({testing::Rec("X", "Y"), testing::Rec("Z", "W")}));
  Start();
  EXPECT_THAT(dir.Names(), ElementsAre("BRINK.VLM", "velmora.ini"));
  EXPECT_EQ(dir.Read("BRINK.VLM"), SampleBytes());
}

TEST_F(StartUp, ChoosesTheConfiguredFileWhateverTheLetterCaseOnDisk) {
  dir.Write("VELMORA.INI", "[FileNames]\r\n  DefaultFile = friends \r\nEXTENTION=vlm\r\n");
  dir.Write("friends.vlm", "");
  Start();
  EXPECT_EQ(s.WorkingName, "FRIENDS");
  EXPECT_EQ(s.WorkingExt, "VLM");
  EXPECT_EQ(s.WorkingFilePath(), dir / "friends.vlm");
  EXPECT_FALSE(dir.Exists("velmora.ini")) << "an existing configuration under another case counts";

  // Another extension: the sample file is still BRINK.VLM.
  dir.Write("VELMORA.INI", "[filenames]\r\nextention=txt\r\ndefaultfile=notes\r\n");
  dir.Write("NOTES.TXT", "");
  Start();
  EXPECT_EQ(s.WorkingName, "NOTES");
  EXPECT_EQ(s.WorkingExt, "TXT");
  EXPECT_TRUE(dir.Exists("brink.vlm"));
}

TEST_F(StartUp, FallsBackToTheSampleFileAndLeavesTheConfigurationAlone) {
  const std::string configs[] = {
      "[filenames]\r\nextention=vlm\r\ndefaultfile=missing\r\n",  // no such file
      "[filenames]\r\nextention=vlm\r\n",                         // no key: ERROR.VLM is missing
      "[other]\r\ndefaultfile=friends\r\nextention=vlm\r\n",      // wrong section
      "[filenames]\r\nextention=vlm\r\ndefaultfile=../friends\r\n",
      "[filenames]\r\nextention=/../friends.vlm\r\ndefaultfile=x\r\n",
      "[filenames]\r\nextention=\r\ndefaultfile=..\r\n",
  };
  TestDir outside;  // a data file one level up must not be reached
  dir.Write("FRIENDS.VLM", "");
  for (const std::string& config : configs) {
    dir.Write("velmora.ini", config);
    Start();
    EXPECT_EQ(s.WorkingName, "BRINK") << config;
    EXPECT_EQ(s.WorkingExt, "VLM") << config;
    EXPECT_EQ(dir.Read("velmora.ini"), config) << "never rewritten at start";
  }

  // With ERROR.VLM present the missing key names it.
  dir.Write("velmora.ini", "[filenames]\r\nextention=vlm\r\n");
  dir.Write("ERROR.VLM", "");
  Start();
  EXPECT_EQ(s.WorkingName, "ERROR");
}

TEST_F(StartUp, AFailedStepEndsStartUpWithTheValuesSetSoFar) {
  env.FailEvery("create", EACCES);  // a directory where nothing can be written
  try {
    Start();
    FAIL() << "start-up went through";
  } catch (const IoError& e) {
    EXPECT_EQ(e.code(), IoError::kAccessDenied);
    EXPECT_STREQ(e.what(), "File access denied");
  }
  EXPECT_EQ(s.ProgramDir, dir.path());
  EXPECT_EQ(s.WorkingName, "");
  EXPECT_EQ(s.WorkingExt, "");
  EXPECT_THAT(dir.Names(), ElementsAre());
  EXPECT_EQ(env.openFiles(), 0);

  // A full disk while the configuration file is created.
  env.Heal();
  env.FailAt(-1, 0);
  Start();
  std::remove((dir / "velmora.ini").c_str());
  int creates = 0, at = 0;
  for (const auto& step : env.log()) {
    if (step == "create" && ++creates == 2) break;
    ++at;
  }
  TestDir fresh;
  Session again(env);
  env.FailAt(at + 1, ENOSPC);  // the first write into the new configuration file
  EXPECT_THROW(RunStartUp(again, fresh.path()), IoError);
  EXPECT_TRUE(env.fired());
  EXPECT_THAT(fresh.Names(), ElementsAre("brink.vlm"));
}

TEST_F(StartUp, SetDefaultFileChangesOnlyThatValue) {
  Start();
  SetDefaultFile(s, "Friends");
  EXPECT_EQ(dir.Read("velmora.ini"),
            "\r\n[filenames]\r\nextention=vlm\r\ndefaultfile=Friends\r\n\r\n");

  std::remove((dir / "velmora.ini").c_str());
  SetDefaultFile(s, "PALS");  // created under the spelling it is written through
  EXPECT_EQ(dir.Read("velmora.INI"), "[filenames]\r\ndefaultfile=PALS\r\n");

  env.FailEvery("rename", EIO);
  try {
    SetDefaultFile(s, "OTHER");
    FAIL();
  } catch (const AppError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + (dir / "velmora.INI"));
  }
  EXPECT_EQ(dir.Read("velmora.INI"), "[filenames]\r\ndefaultfile=PALS\r\n");
  EXPECT_THAT(dir.Names(), ElementsAre("brink.vlm", "velmora.INI"));
}

TEST(SampleFile, IsRecognisedByNameAloneAndRefusesEditing) {
  Session s;
  for (const char* name : {"BRINK", "brink", "  Brink ", "BRINK\t"}) {
    s.WorkingName = name;
    EXPECT_TRUE(IsSampleFile(s)) << name;
  }
  for (const char* name : {"BRINKS", "", "BR INK", "FRIENDS"}) {
    s.WorkingName = name;
    EXPECT_FALSE(IsSampleFile(s)) << name;
  }

  testing::ScriptedDialogs seam;
  ShowCannotEdit();
  ASSERT_EQ(seam.shown.size(), 1u);
  EXPECT_EQ(seam.shown[0].text, "You cannot edit this file. - Open or create a different file.");
  EXPECT_EQ(seam.shown[0].title, "Information");
  EXPECT_EQ(seam.shown[0].kind, MsgKind::Information);
  EXPECT_EQ(seam.shown[0].buttons, MsgButtons::OK);
}

// A configuration file past its cap is not read at all, whatever it holds:
// the sample file is used, the warning names the file, and the file stays.
TEST_F(StartUp, AConfigurationFileTooLargeToBeOneIsPassedOverWithAWarning) {
  dir.Write("friends.vlm", "");
  for (const size_t size : {size_t(kMaxConfigBytes), size_t(kMaxConfigBytes) + 1}) {
    std::string ini = "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n";
    ini.resize(size, ' ');
    dir.Write("velmora.ini", ini);
    Start();
    const bool tooLarge = size > kMaxConfigBytes;
    EXPECT_EQ(s.WorkingName, tooLarge ? "BRINK" : "FRIENDS") << size;
    EXPECT_EQ(s.StartUpWarning, tooLarge ? TooLargeConfigText(dir / "velmora.ini") : "") << size;
    EXPECT_EQ(dir.Read("velmora.ini"), ini);
  }
}

}  // namespace
}  // namespace velmora
