#include <gtest/gtest.h>

#include "mainwindow/tform1.h"
#include "platform/messagedialog.h"
#include "support/dialogs.h"
#include "support/fakeenv.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::FaultEnv;
using testing::TestDir;

TEST(MainWindowStart, CaptionNamesTheWorkingFile) {
  TestDir dir;
  Session s;
  TForm1 form(s, dir.path());
  EXPECT_EQ(form.windowTitle(), "BRINK");
  EXPECT_TRUE(dir.Exists("brink.vlm"));
  EXPECT_TRUE(dir.Exists("velmora.ini"));
}

TEST(MainWindowStart, FailedStartUpIsReportedAndTheWindowStillComesUp) {
  TestDir dir;
  FaultEnv env;
  env.FailEvery("create", EACCES);
  Session s(env);
  testing::ScriptedDialogs seam;
  SetProgramTitle("Velmora");

  TForm1 form(s, dir.path());

  ASSERT_EQ(seam.shown.size(), 1u);
  EXPECT_EQ(seam.shown[0].title, "Velmora");
  EXPECT_EQ(seam.shown[0].text, "File access denied.");
  EXPECT_EQ(seam.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(seam.shown[0].buttons, MsgButtons::OK);
  // The caption is not set, and the working file stays unknown.
  EXPECT_NE(form.windowTitle(), "BRINK");
  EXPECT_TRUE(s.WorkingName.empty());
  EXPECT_TRUE(s.WorkingExt.empty());
}

}  // namespace
}  // namespace velmora
