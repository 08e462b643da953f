// The SYNC menu's background sync and the status line, with a sync that a
// test holds and lets go; the real sync against a server is in tests/slow.
#include <QAction>
#include <QThread>
#include <atomic>
#include <mutex>

#include "mainwindow/backgroundsync.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::FileOf;
using testing::Rec;

class SyncMenuTest : public testing::WindowsTest {
 protected:
  void SetUpAccount() {
    SaveAccount(s, {"example.org", "ann", "https://example.org/ab/", "FRIENDS.VLM", {}});
  }
  BackgroundSync* Background() { return form1->findChild<BackgroundSync*>("BackgroundSync1"); }
  QLabel* StatusLine() { return form1->findChild<QLabel*>("Label5"); }
  static SyncOutcome Outcome(std::string error, SyncSummary summary = {}) {
    SyncOutcome o;
    o.when = QDateTime(QDate(2026, 12, 9), QTime(14, 5));
    o.ok = error.empty();
    o.error = std::move(error);
    o.summary = std::move(summary);
    return o;
  }
};

TEST_F(SyncMenuTest, OneSyncAtATimeOnASessionOfItsOwnAndOneMoreWhenAskedMeanwhile) {
  Start({Rec("ANN", "SMITH")});
  SetUpAccount();
  std::mutex gate;
  std::atomic<int> runs = 0;
  std::atomic<bool> ownSession = true, offThread = true;
  gate.lock();
  BackgroundSync sync(
      s,
      [&](Session& own, const Account& a, const std::string&) {
        const std::lock_guard<std::mutex> wait(gate);
        ownSession = ownSession && &own != &s && own.WorkingFilePath() == s.WorkingFilePath() &&
                     a.dataFile == "FRIENDS.VLM";
        offThread = offThread && QThread::currentThread() != qApp->thread();
        ++runs;
        return SyncSummary{};
      },
      [](const Account&) { return std::string("secret"); });
  int finished = 0;
  QObject::connect(&sync, &BackgroundSync::Finished, [&] { ++finished; });

  sync.SyncNow();
  sync.SyncNow();
  sync.SyncNow();
  EXPECT_TRUE(sync.Running());
  gate.unlock();
  QTRY_COMPARE(finished, 2);
  QTest::qWait(100);
  EXPECT_EQ(runs, 2);
  EXPECT_TRUE(ownSession);
  EXPECT_TRUE(offThread);

  // A change is synced once the changes pause, not at once.
  sync.EntriesChanged();
  EXPECT_FALSE(sync.Running());
  QTRY_COMPARE_WITH_TIMEOUT(finished, 3, BackgroundSync::kAfterChangeMs + 3000);

  // Another working file is not the account's.
  s.WorkingName = "OTHER";
  sync.SyncNow();
  EXPECT_FALSE(sync.Running());
}

TEST_F(SyncMenuTest, TheStatusLineTellsEveryOutcomeAndABoxOnlyWhatIsNew) {
  Start({Rec("ANN", "SMITH"), Rec("BOB", "SMYTH")});
  Search("SM");
  ASSERT_EQ(form2->GridRowCount(), 3);
  SyncSummary added;
  added.addedHere = 1;
  added.changedThere = 2;
  SyncSummary conflict;
  conflict.conflicts = {"ANN SMITH", "BOB SMYTH"};

  struct Step {
    SyncOutcome outcome;
    const char* status;
    const char* box;  // "" for none
  } steps[] = {
      {Outcome("the server at https://example.org/ab/ answered 503"),
       "Sync failed 14:05: the server at https://example.org/ab/ answered 503",
       "The sync with the server failed: the server at https://example.org/ab/ answered 503. "
       "velmora tries again every 15 minutes, after your changes, and at SYNC NOW."},
      {Outcome("the server at https://example.org/ab/ answered 503"),
       "Sync failed 14:05: the server at https://example.org/ab/ answered 503", ""},
      {Outcome({}, added), "Synced 14:05: 1 added here, 2 changed there", ""},
      {Outcome({}, conflict), "Synced 14:05: nothing changed, 2 changed on both sides",
       "Changed both here and on the server since the last sync, and both versions kept: ANN "
       "SMITH, BOB SMYTH. Delete the one you do not want."},
      {Outcome("<b>no</b>"), "Sync failed 14:05: <b>no</b>",
       "The sync with the server failed: <b>no</b>. velmora tries again every 15 minutes, after "
       "your changes, and at SYNC NOW."},
  };
  for (const Step& step : steps) {
    if (step.outcome.summary.addedHere)
      WriteWorking({Rec("ANN", "SMITH"), Rec("BOB", "SMYTH"), Rec("CY", "SMALL")});
    dialogs.shown.clear();
    emit Background()->Finished(step.outcome);
    EXPECT_EQ(StatusLine()->text().toStdString(), step.status);
    EXPECT_EQ(StatusLine()->textFormat(), Qt::PlainText);
    EXPECT_EQ(form1->findChild<QAction*>("SYNC1Action")->toolTip().toStdString(), step.status);
    ASSERT_EQ(dialogs.shown.size(), *step.box ? 1u : 0u) << step.status;
    if (*step.box) {
      EXPECT_EQ(dialogs.shown[0].text.toStdString(), step.box);
    }
  }
  // The grid on screen was searched again after the entry came.
  EXPECT_EQ(form2->GridRowCount(), 4);
}

}  // namespace
}  // namespace velmora
