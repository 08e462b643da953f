#include "store/startup.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/codepage.h"
#include "platform/ioerror.h"
#include "platform/messagedialog.h"
#include "platform/text.h"
#include "searchedit/cannotedit.h"
#include "store/filecommands.h"
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
  EXPECT_EQ(s.ConfigNotice, "");
  EXPECT_EQ(env.openFiles(), 0);
}

TEST_F(StartUp, TheSampleFileIsRestoredAtEveryStartWhateverItsSpelling) {
  dir.Write("BRINK.VLM", testing::FileOf({testing::Rec("X", "Y"), testing::Rec("Z", "W")}));
  Start();
  EXPECT_THAT(dir.Names(), ElementsAre("BRINK.VLM", "velmora.ini"));
  EXPECT_EQ(dir.Read("BRINK.VLM"), SampleBytes());
}

TEST_F(StartUp, ASampleFileThatIsALinkIsReplacedAndWhereItLedIsLeftAlone) {
  TestDir outside;
  outside.Write("mine", "keep");
  for (const std::string& to : {outside / "mine", outside / "nothing", std::string("/dev/zero")}) {
    ::symlink(to.c_str(), (dir / "brink.vlm").c_str());
    Start();
    struct stat st;
    ASSERT_EQ(::lstat((dir / "brink.vlm").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << to;
    EXPECT_EQ(dir.Read("brink.vlm"), SampleBytes());
    std::remove((dir / "brink.vlm").c_str());
  }
  EXPECT_THAT(outside.Names(), ElementsAre("mine"));
  EXPECT_EQ(outside.Read("mine"), "keep");
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

TEST_F(StartUp, TheProgramsOwnFilesAreNeverDataFiles) {
  for (const std::string own : {"velmora.ini", "temp.tmp", "tolka.exe", "hlp#0.i"}) {
    SCOPED_TRACE(own);
    const std::string name = own.substr(0, own.find('.')), ext = own.substr(own.find('.') + 1);
    const std::string config = "[filenames]\r\nextention=" + ext + "\r\ndefaultfile=" + name;
    dir.Write("velmora.ini", config);
    dir.Write(own, config);
    Start();
    EXPECT_EQ(s.WorkingName + "." + s.WorkingExt, "BRINK.VLM");
    EXPECT_EQ(s.ConfigNotice, "velmora.ini names " + UpperCase(own) +
                                  " as the data file, one of velmora's own files; the sample "
                                  "file is used instead.");
    EXPECT_EQ(dir.Read(own), config);
    // Nor listed by FILE, nor taken by NEW, SAVE AS, RENAME or an import.
    s.WorkingExt = UpperCase(ext);
    EXPECT_THAT(ListDataFiles(s), ElementsAre());
    EXPECT_THROW(DataFileExists(s, name), IoError);
  }
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

// The locale of the process, for the life of the object.
class ScopedLang {
 public:
  explicit ScopedLang(const char* lang) : saved_(std::getenv("LANG")) { ::setenv("LANG", lang, 1); }
  ~ScopedLang() {
    ::setenv("LANG", saved_.c_str(), 1);
    SetTextCodePage(CodePage::Windows1252());
  }

 private:
  std::string saved_;
};

TEST_F(StartUp, AFreshFolderTakesTheLocalesCodePageOnceAndForAll) {
  {
    ScopedLang polish("pl_PL.UTF-8");
    Start();
    EXPECT_EQ(TextCodePage().number(), 1250);
  }
  EXPECT_EQ(dir.Read("velmora.ini"), kDefaultIni + "[text]\r\ncodepage=1250\r\n");
  ScopedLang russian("ru_RU.UTF-8");
  Start();
  EXPECT_EQ(TextCodePage().number(), 1250) << "a new locale changed how the files read";
}

TEST_F(StartUp, WithoutTheKey1252AndAnUnusableCodePageFallsBackWithoutWriting) {
  ScopedLang greek("el_GR.UTF-8");
  const struct {
    std::string ini;
    int page;
    const char* problem;
  } kCases[] = {
      {kDefaultIni, 1252, ""},
      {kDefaultIni + "[text]\r\ncodepage=1251\r\n", 1251, ""},
      {kDefaultIni + "[TEXT]\r\nCodePage= 1257 \r\n", 1257, ""},
      {kDefaultIni + "[text]\r\ncodepage=20932\r\n", 1252, "20932"},
      {kDefaultIni + "[text]\r\ncodepage=932\r\n", 932, ""},
      {kDefaultIni + "[text]\r\ncodepage=99999\r\n", 1252, "99999"},
      {kDefaultIni + "[text]\r\ncodepage=cyrillic\r\n", 1252, "cyrillic"},
  };
  for (const auto& c : kCases) {
    dir.Write("velmora.ini", c.ini);
    Start();
    EXPECT_EQ(TextCodePage().number(), c.page) << c.ini;
    EXPECT_EQ(dir.Read("velmora.ini"), c.ini);
    EXPECT_EQ(s.CodePageProblem.empty(), *c.problem == 0) << c.ini;
    EXPECT_NE(s.CodePageProblem.find(c.problem), std::string::npos) << s.CodePageProblem;
  }
  EXPECT_EQ(s.CodePageProblem,
            "velmora.ini names the code page \"cyrillic\", which velmora cannot use. Texts are "
            "read and written in code page 1252 (Western European) until codepage= names "
            "another.");
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
