// The SYNC menu against a real Radicale and a real keyring: the account
// dialog as a user fills it in, and the background sync that follows.

#include <QListWidget>
#include <cstdio>

#include "mainwindow/accountdialog.h"
#include "mainwindow/backgroundsync.h"
#include "support/keyring.h"
#include "support/servers.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Installed;
using testing::Rec;
using testing::RunningRadicale;
using testing::TestKeyring;

class WindowSyncTest : public testing::WindowsTest {
 protected:
  void SetUp() override {
    for (const char* p : {"radicale", "curl", "openssl", "gnome-keyring-daemon", "dbus-daemon"})
      if (!Installed(p))
        GTEST_SKIP() << "SKIPPED: " << p << " is not installed (scripts/deps.sh installs it)";
    if (!TestKeyring::Shared().problem().empty()) GTEST_SKIP() << TestKeyring::Shared().problem();
  }
  BackgroundSync* Background() { return form1->findChild<BackgroundSync*>("BackgroundSync1"); }
  // ACCOUNT..., the three fields typed, OK.
  AccountDialog* FillInAccount(const std::string& address, const char* password) {
    Menu("ACCOUNT...");
    auto* dialog = form1->findChild<AccountDialog*>();
    EXPECT_NE(dialog, nullptr);
    if (!dialog) return nullptr;
    TypeInto(dialog->findChild<QLineEdit*>("Edit1"), QString::fromStdString(address));
    TypeInto(dialog->findChild<QLineEdit*>("Edit2"), "ann");
    TypeInto(dialog->findChild<QLineEdit*>("Edit3"), password);
    Click(dialog->findChild<QPushButton*>("Button2"));
    return dialog;
  }
  std::vector<CardListing> ServerCards(const RunningRadicale& server) {
    return CardDavStore(server.url() + "/ann/book/", {"ann", "secret", server.fingerprint()})
        .List();
  }
};

TEST_F(WindowSyncTest, TheAccountIsSavedOnlyWhenTheServerTookTheLogin) {
  struct Row {
    bool https;
    const char* password;
    MsgResult trust;    // the answer to the certificate's question
    const char* shown;  // the box the user met, "" for none
    bool saved;
  } rows[] = {
      {false, "wrong", MsgResult::Yes, "refused the user name or password", false},
      {true, "secret", MsgResult::No, "No authority vouches", false},
      {true, "secret", MsgResult::Yes, "No authority vouches", true},
      {false, "secret", MsgResult::Yes, "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.password) + (row.https ? " https" : " http"));
    RunningRadicale server({{{"ann", "secret"}}, row.https});
    ASSERT_EQ(server.MakeAddressBook("/ann/book/", "ann"), 201) << server.Log();
    // Each row's server is another address book: the last row's pairing goes.
    std::remove((dir / ".FRIENDS.VLM.sync").c_str());
    Start({Rec("ANN", "SMITH")});
    dialogs.shown.clear();
    dialogs.Queue(row.trust);
    AccountDialog* dialog = FillInAccount(server.url(), row.password);
    ASSERT_NE(dialog, nullptr);
    if (*row.shown) {
      ASSERT_FALSE(dialogs.shown.empty());
      EXPECT_NE(dialogs.shown[0].text.toStdString().find(row.shown), std::string::npos)
          << dialogs.shown[0].text.toStdString();
    }
    const std::optional<Account> a = LoadAccount(s);
    ASSERT_EQ(a.has_value(), row.saved);
    if (!row.saved) {
      EXPECT_TRUE(dialog->isVisible());
      dialog->close();
      continue;
    }
    EXPECT_EQ(a->addressBook, server.url() + "/ann/book/");
    EXPECT_EQ(a->dataFile, "FRIENDS.VLM");
    EXPECT_EQ(a->trustedCertificate, row.https ? server.fingerprint() : "");
    // The first sync takes the entry to the server.
    QTRY_VERIFY_WITH_TIMEOUT(Background()->Last().has_value(), 30000);
    EXPECT_TRUE(Background()->Last()->ok) << Background()->Last()->error;
    EXPECT_EQ(ReadPassword(*a), "secret");
    EXPECT_EQ(ServerCards(server).size(), 1u);
    DeletePassword(*a);
  }
}

TEST_F(WindowSyncTest, AChangeOnTheServerComesIntoTheResultGridAtSyncNow) {
  RunningRadicale server({{{"ann", "secret"}}, false});
  ASSERT_EQ(server.MakeAddressBook("/ann/book/", "ann"), 201) << server.Log();
  Start({Rec("ANN", "SMITH")});
  FillInAccount(server.url(), "secret");
  QTRY_VERIFY_WITH_TIMEOUT(Background()->Last().has_value(), 30000);
  ASSERT_TRUE(Background()->Last()->ok) << Background()->Last()->error;

  Search("SM");
  ASSERT_EQ(Column(0), std::vector<QString>{"ANN"});
  ASSERT_EQ(server.Request("PUT", "/ann/book/zoe.vcf",
                           "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:zoe\r\nFN:Zoe Smalley\r\nN:Smalley;"
                           "Zoe;;;\r\nTEL:555\r\nEND:VCARD\r\n",
                           "ann", "text/vcard"),
            201);
  Menu("SYNC NOW");
  QTRY_COMPARE_WITH_TIMEOUT(Column(0).size(), 2u, 30000);
  EXPECT_EQ(Column(0)[0] + Column(0)[1], "ZoeANN");
  EXPECT_EQ(Background()->Last()->summary.addedHere, 1u);
  DeletePassword(*LoadAccount(s));
}

}  // namespace
}  // namespace velmora
