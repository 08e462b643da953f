// The SYNC menu of the main window, and the status line that tells how the
// last sync with the account ended.
//
// A sync's outcome is told where the user looks anyway: the status line
// and the menu's tip. A box interrupts only for what asks the user to act:
// contacts changed on both sides, and an error, told once until a sync
// succeeds again rather than every 15 minutes while it repeats.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <algorithm>

#include "mainwindow/accountdialog.h"
#include "mainwindow/backgroundsync.h"
#include "mainwindow/tform1.h"
#include "platform/guard.h"
#include "platform/messagedialog.h"
#include "platform/widgets.h"
#include "searchedit/tform2.h"

namespace velmora {
namespace {

constexpr char kSyncing[] = "Syncing...";
constexpr char kFailedFirst[] = "The sync with the server failed: ";
constexpr char kFailedLast[] =
    " velmora tries again every 15 minutes, after your changes, and at SYNC NOW.";
constexpr char kConflicts[] =
    "Changed both here and on the server since the last sync, and both versions kept: ";
constexpr char kConflictsLast[] = ". Delete the one you do not want.";

}  // namespace

void TForm1::BuildSync() {
  Label5 = PlaceLabel(centralWidget(), "Label5", QString(), kLabel5);
  Label5->setAccessibleName(QStringLiteral("Sync status"));
  BackgroundSync1 = new BackgroundSync(session_, {}, {}, this);
  BackgroundSync1->setObjectName(QStringLiteral("BackgroundSync1"));
  connect(SYNCNOW1, &QAction::triggered, this, GuardedSlot([this] { SYNCNOW1Click(); }));
  connect(ACCOUNT1, &QAction::triggered, this, GuardedSlot([this] { ACCOUNT1Click(); }));
  connect(BackgroundSync1, &BackgroundSync::Began, this,
          [this] { ShowSyncStatus(QString::fromLatin1(kSyncing)); });
  connect(BackgroundSync1, &BackgroundSync::Finished, this,
          [this](const SyncOutcome& outcome) { Guarded([&] { SyncFinished(outcome); }); });
}

void TForm1::EntriesChanged() { BackgroundSync1->EntriesChanged(); }

void TForm1::SYNCNOW1Click() {
  if (BackgroundSync1->AccountHere())
    BackgroundSync1->SyncNow();
  else
    OpenAccountDialog();
}

void TForm1::ACCOUNT1Click() { OpenAccountDialog(); }

void TForm1::OpenAccountDialog() {
  auto* dialog = new AccountDialog(session_, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QDialog::accepted, this, [this, dialog] {
    if (dialog->Removed()) {
      ShowSyncStatus(QString());
      syncErrorTold_.clear();
    } else {
      // The first sync of the account, or the first with its new settings.
      BackgroundSync1->SyncNow();
    }
  });
  // The windows stay painted while it asks the server; only this one waits.
  dialog->open();
}

void TForm1::ShowSyncStatus(const QString& status) {
  // Cut to the window's width; the whole line in the tip.
  const int room = std::max(kLabel5.w, centralWidget()->width() - 2 * kLabel5.x);
  Label5->resize(room, Label5->height());
  Label5->setText(Label5->fontMetrics().elidedText(status, Qt::ElideRight, room));
  for (QObject* shown :
       {static_cast<QObject*>(Label5), static_cast<QObject*>(SYNC1->menuAction())}) {
    shown->setProperty("toolTip", status);
    shown->setProperty("statusTip", status);
  }
}

void TForm1::SyncFinished(const SyncOutcome& outcome) {
  ShowSyncStatus(BackgroundSync::StatusText(outcome));
  if (!outcome.ok) {
    if (outcome.error == syncErrorTold_) return;
    syncErrorTold_ = outcome.error;
    QString why = QString::fromStdString(outcome.error);
    if (!why.endsWith(QLatin1Char('.'))) why += QLatin1Char('.');
    MessageDlg(QString::fromLatin1(kFailedFirst) + why + QString::fromLatin1(kFailedLast),
               MsgKind::Warning, MsgButtons::OK);
    return;
  }
  syncErrorTold_.clear();
  const SyncSummary& s = outcome.summary;
  if (s.addedHere + s.changedHere + s.deletedHere > 0 && form2_) form2_->SearchAgainAfterSync();
  if (!s.conflicts.empty()) {
    QString names;
    for (const std::string& name : s.conflicts)
      names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + QString::fromStdString(name);
    MessageDlg(QString::fromLatin1(kConflicts) + names + QString::fromLatin1(kConflictsLast),
               MsgKind::Information, MsgButtons::OK);
  }
}

}  // namespace velmora
