// HELP and the clock, as a user meets them on the main window. The stand-in
// viewer is a script named tolka on a PATH of the test's own.
#include <QSet>
#include <QTimer>
#include <sys/stat.h>

#include "support/windows_fixture.h"

namespace velmora {
namespace {

class HelpTest : public testing::WindowsTest {
 protected:
  HelpTest() : savedPath_(std::getenv("PATH")) {
    ::setenv("PATH", (viewerDir.path() + ":" + savedPath_).c_str(), 1);
    SetProgramTitle("Velmora");
  }
  ~HelpTest() override { ::setenv("PATH", savedPath_.c_str(), 1); }

  void InstallViewer(const std::string& body) {
    viewerDir.Write("tolka", "#!/bin/sh\n" + body + "\n");
    ::chmod((viewerDir / "tolka").c_str(), 0755);
  }

  // The state HELP must leave as it was.
  std::string PanelState() {
    return form1->windowTitle().toStdString() + "|" + SearchField()->text().toStdString() + "|" +
           (SearchField()->isVisible() ? "panel" : "idle");
  }

  testing::TestDir viewerDir;

 private:
  std::string savedPath_;
};

TEST_F(HelpTest, WithoutAViewerTheErrorBoxSaysSoAndNothingElseChanges) {
  Start({});
  Menu("SEARCH/EDIT");
  QTest::keyClicks(SearchField(), "SM");
  const std::string before = PanelState();
  Menu("HELP");
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].title, "Velmora");
  EXPECT_EQ(dialogs.shown[0].text, "File was not found.");
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(PanelState(), before);
}

TEST_F(HelpTest, HelpWaitsForTheViewerWhileTheWindowAndClockStayLive) {
  InstallViewer("echo \"$@\" > " + viewerDir / "args" + "; sleep 2.5");
  Start({});
  auto* clock = Clock();
  EXPECT_EQ(clock->text(), "Timelabel1");
  EXPECT_GT(clock->x(), form1->width() / 2);  // top right
  EXPECT_LT(clock->y(), 20);

  // What the clock shows while HELP waits, sampled often.
  QSet<QString> clockTexts;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { clockTexts << clock->text(); });
  sampler.start(100);
  bool searchOpenedDuringWait = false;
  QTimer::singleShot(300, [&] {
    Menu("SEARCH/EDIT");
    searchOpenedDuringWait = SearchField()->isVisible();
  });
  Menu("HELP");

  EXPECT_EQ(viewerDir.Read("args"), "Velmora Help\n");
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_TRUE(searchOpenedDuringWait);
  clockTexts.remove("Timelabel1");
  EXPECT_GE(clockTexts.size(), 2) << "the clock stood still";
}

// Whichever window shows when the viewer ends, the EXIT chosen during the
// wait ends the program: no window of it is left showing, which is what
// ends the application's event loop.
TEST_F(HelpTest, ExitDuringTheWaitTakesEffectWhenTheViewerHasEnded) {
  InstallViewer("sleep 0.8");
  // What is chosen after EXIT, while the viewer still runs.
  for (const char* then : {"", "SEARCH/EDIT", "NEW RECORD"}) {
    SCOPED_TRACE(then);
    Start({});
    bool visibleAfterExit = false, searchWindowShowed = false;
    QTimer::singleShot(200, [&] {
      Menu("EXIT");
      visibleAfterExit = form1->isVisible();
    });
    QTimer::singleShot(300, [&] {
      if (std::string_view(then) == "SEARCH/EDIT") Search("");
      if (std::string_view(then) == "NEW RECORD") Menu(then);
      searchWindowShowed = form2->isVisible() && !form1->isVisible();
    });
    Menu("HELP");
    EXPECT_TRUE(visibleAfterExit);
    EXPECT_EQ(searchWindowShowed, *then != 0);
    for (QWidget* w : QApplication::topLevelWidgets())
      EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
  }
}

}  // namespace
}  // namespace velmora
