#include "platform/messagedialog.h"

#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include "platform/guard.h"
#include "platform/ioerror.h"
#include "support/dialogs.h"

namespace velmora {
namespace {

QStringList Captions(QMessageBox& box) {
  QStringList out;
  for (auto* b : box.buttons()) out << b->text();
  return out;
}

TEST(MessageDialog, KindGivesTitleAndIconAndTheSetGivesButtonsEnterAndEsc) {
  auto ok = BuildMessageBox(
      {KindTitle(MsgKind::Information), "t", MsgKind::Information, MsgButtons::OK}, nullptr);
  EXPECT_EQ(ok->windowTitle(), "Information");
  EXPECT_EQ(ok->icon(), QMessageBox::Information);
  EXPECT_EQ(Captions(*ok), QStringList{"OK"});
  EXPECT_EQ(ok->defaultButton()->text(), "OK");
  EXPECT_EQ(ok->escapeButton(), ok->defaultButton());

  auto okCancel = BuildMessageBox(
      {KindTitle(MsgKind::Warning), "t", MsgKind::Warning, MsgButtons::OKCancel}, nullptr);
  EXPECT_EQ(okCancel->windowTitle(), "Warning");
  EXPECT_EQ(okCancel->icon(), QMessageBox::Warning);
  EXPECT_EQ(okCancel->defaultButton()->text(), "OK");
  EXPECT_EQ(static_cast<QPushButton*>(okCancel->escapeButton())->text(), "Cancel");

  auto yesNo = BuildMessageBox(
      {KindTitle(MsgKind::Confirmation), "t", MsgKind::Confirmation, MsgButtons::YesNo}, nullptr);
  EXPECT_EQ(yesNo->windowTitle(), "Confirm");
  EXPECT_EQ(yesNo->icon(), QMessageBox::Question);
  EXPECT_EQ(yesNo->defaultButton()->text(), "&Yes");
  EXPECT_EQ(yesNo->defaultButton()->accessibleName(), "Yes");
  EXPECT_EQ(static_cast<QPushButton*>(yesNo->escapeButton())->text(), "&No");

  EXPECT_EQ(KindTitle(MsgKind::Error), "Error");

  auto named = BuildMessageBox(
      {"Tolka", "Cannot open file /x/<b>y</b>/hlp#0i.", MsgKind::Error, MsgButtons::OK}, nullptr);
  EXPECT_EQ(named->textFormat(), Qt::PlainText);
}

TEST(MessageDialog, TheGuardShowsAnErrorInTheStandardBoxAndGoesOn) {
  testing::ScriptedDialogs seam;
  SetProgramTitle("Velmora");
  bool after = false;
  Guarded([] { throw IoError(IoError::kDiskFull); });
  Guarded([] { throw AppError("Unable to write to /p/velmora.INI"); });
  Guarded([] { throw AppError("Already a sentence."); });
  Guarded([] { throw std::bad_alloc(); });
  Guarded([&] { after = true; });
  ASSERT_EQ(seam.shown.size(), 4u);
  EXPECT_EQ(seam.shown[0].text, "Disk full.");
  EXPECT_EQ(seam.shown[0].title, "Velmora");
  EXPECT_EQ(seam.shown[0].kind, MsgKind::Error);
  EXPECT_EQ(seam.shown[0].buttons, MsgButtons::OK);
  EXPECT_EQ(seam.shown[1].text, "Unable to write to /p/velmora.INI.");
  EXPECT_EQ(seam.shown[2].text, "Already a sentence.");
  EXPECT_EQ(seam.shown[3].text, "Not enough memory.");
  EXPECT_TRUE(after);
}

TEST(MessageDialog, TheGuardShowsWhatIsNoStdExceptionAsAnUnknownError) {
  testing::ScriptedDialogs seam;
  SetProgramTitle("Velmora");
  Guarded([] { throw 42; });
  Guarded([] { throw "text"; });
  Guarded([] { throw std::string("text"); });
  ASSERT_EQ(seam.shown.size(), 3u);
  for (const MessageRequest& r : seam.shown) {
    EXPECT_EQ(r.text, "Unknown exception.");
    EXPECT_EQ(r.title, "Velmora");
    EXPECT_EQ(r.kind, MsgKind::Error);
  }
}

}  // namespace
}  // namespace velmora
