// velmora --sync against a real CardDAV server: a local Radicale on a free
// loopback port with scratch storage, reached through vdirsyncer, and the
// cards read by khard. Two vdirs stand for velmora's side and a phone's.
// Each test starts its own server and stops it by its pid.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "platform/codepage.h"
#include "support/servers.h"
#include "sync_support.h"

extern char** environ;

namespace velmora {

namespace {

using namespace testing;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class SyncServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* p : {"radicale", "vdirsyncer", "curl"})
      if (!Installed(p))
        GTEST_SKIP() << "SKIPPED: " << p << " is not installed (scripts/deps.sh installs it)";
    prog_ = dir_ / "prog/";
    std::filesystem::create_directories(prog_);
    std::filesystem::copy_file(VELMORA_EXE, prog_ + "velmora");
    for (const char* d : {"mine", "phone", "status-mine", "status-phone"})
      std::filesystem::create_directories(dir_ / d);
    server_ = std::make_unique<RunningRadicale>();
    ASSERT_EQ(server_->MakeAddressBook("/test/book/"), 201) << server_->Log();
    for (const char* side : {"mine", "phone"}) {
      dir_.Write(std::string(side) + ".conf",
                 "[general]\nstatus_path = \"" + (dir_ / "status-") + side +
                     "/\"\n\n[pair book]\na = \"local\"\nb = \"server\"\ncollections = null\n\n"
                     "[storage local]\ntype = \"filesystem\"\npath = \"" +
                     (dir_ / side) +
                     "/\"\nfileext = \".vcf\"\n\n[storage server]\n"
                     "type = \"carddav\"\nurl = \"" +
                     server_->url() + "/test/book/\"\n");
      ASSERT_EQ(Vdirsyncer(side, "discover"), 0);
    }
    dir_.Write("prog/FRIENDS.VLM", "");
    dir_.Write("prog/PHONE.VLM", "");
  }

  int Vdirsyncer(const std::string& side, const std::string& what) {
    return Shell("vdirsyncer -c " + Quote(dir_ / side) + ".conf " + what + " >>" +
                 Quote(dir_ / "vdirsyncer.log") + " 2>&1");
  }
  // velmora --sync of a data file with a vdir; its exit status.
  int Velmora(const std::string& side, const std::string& name, const std::string& more = "") {
    return Shell("env -u DISPLAY " + Quote(prog_ + "velmora") + " --sync " + Quote(dir_ / side) +
                 " " + name + more + " 2>>" + Quote(dir_ / "velmora.log"));
  }
  // The timer's three steps for velmora's side, then the phone fetches.
  void SyncAll() {
    ASSERT_EQ(Vdirsyncer("mine", "sync"), 0) << Log();
    ASSERT_EQ(Velmora("mine", "FRIENDS"), 0) << Log();
    ASSERT_EQ(Vdirsyncer("mine", "sync"), 0) << Log();
    ASSERT_EQ(Vdirsyncer("phone", "sync"), 0) << Log();
  }
  // A change on the phone reaches the server.
  void PhoneUp() { ASSERT_EQ(Vdirsyncer("phone", "sync"), 0) << Log(); }
  std::string Log() { return dir_.Read("velmora.log") + dir_.Read("vdirsyncer.log"); }

  Set Data(const std::string& name) { return EntriesOf(dir_.Read("prog/" + name + ".VLM")); }
  void WriteData(const std::string& name, const Set& entries) {
    dir_.Write("prog/" + name + ".VLM", DataFileOf(entries));
  }
  std::map<std::string, std::string> Cards(const std::string& side) { return CardsIn(dir_, side); }
  Set CardTexts(const std::string& side) { return ShownOfCards(dir_, side); }
  // The phone's card that holds a text, edited by `edit`.
  void EditPhoneCard(const std::string& holding, const std::function<void(std::string&)>& edit) {
    for (const auto& [file, bytes] : Cards("phone")) {
      if (bytes.find(holding) == std::string::npos) continue;
      std::string card = bytes;
      edit(card);
      dir_.Write("phone/" + file, card);
      return;
    }
    FAIL() << "no phone card holds " << holding;
  }
  std::string PhoneCard(const std::string& holding) {
    for (const auto& [file, bytes] : Cards("phone"))
      if (bytes.find(holding) != std::string::npos) return bytes;
    return "";
  }

  TestDir dir_;
  std::string prog_;
  std::unique_ptr<RunningRadicale> server_;
};

void InsertBeforeEnd(std::string& card, const std::string& lines) {
  card.insert(card.rfind("END:VCARD"), lines);
}

TEST_F(SyncServerTest, AThousandEntriesComeBackThroughTheServerAsTheyWere) {
  Set entries;
  const char* names[] = {"Zoë", "José, Jr.", "O\"Brien", "Ann;Marie", "", "Åsa", "Per\\Ola"};
  for (int i = 0; i < 1000; ++i) {
    const std::string n = std::to_string(i);
    // A card holds no empty number before another (the vCard mapping takes
    // the first two numbers a card has), so PHONE2 comes only after PHONE1.
    entries.push_back(Texts(names[i % 7], "Surname" + n, i % 3 ? "+49 30 " + n : "",
                            i % 3 && i % 5 == 0 ? "0" + n : "",
                            i % 4 ? "a \"quoted\", note; " + n : ""));
  }
  entries.push_back(entries[10]);  // twins
  entries.push_back(entries[10]);
  WriteData("FRIENDS", entries);
  SyncAll();
  ASSERT_EQ(Velmora("phone", "PHONE"), 0) << Log();
  EXPECT_EQ(Data("PHONE"), Sorted(entries));
  EXPECT_EQ(Data("FRIENDS"), Sorted(entries));

  // Every card velmora wrote is a card a third party reads.
  if (!Installed("khard")) GTEST_SKIP() << "SKIPPED: khard is not installed";
  dir_.Write("khard.conf", "[addressbooks]\n[[mine]]\npath = " + (dir_ / "mine") +
                               "/\n\n[general]\ndefault_action = list\neditor = /bin/true\n"
                               "merge_editor = /bin/true\n");
  dir_.Write("prog/khard.sh", "khard -c " + Quote(dir_ / "khard.conf") + " list --parsable >" +
                                  Quote(dir_ / "khard.txt") + " 2>&1");
  ASSERT_EQ(Shell("HOME=" + Quote(dir_.path()) + " sh " + Quote(prog_ + "khard.sh")), 0)
      << dir_.Read("khard.txt");
  const std::string listed = dir_.Read("khard.txt");
  EXPECT_EQ(size_t(std::count(listed.begin(), listed.end(), '\n')), entries.size()) << listed;
}

TEST_F(SyncServerTest, WhatThePhoneAddedStaysWhenVelmoraChangesItsFields) {
  WriteData("FRIENDS", {Texts("Ann", "Smith", "111"), Texts("Bob", "Jones", "222")});
  SyncAll();
  EditPhoneCard("Smith", [](std::string& c) {
    InsertBeforeEnd(c,
                    "EMAIL:ann@example.org\r\nTEL;TYPE=WORK:333\r\nTEL:444\r\n"
                    "PHOTO;VALUE=uri:http://example.org/ann.png\r\n");
  });
  // A name the code page cannot hold, from the phone.
  dir_.Write("phone/lukasz.vcf",
             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:lukasz\r\nFN:Łukasz Dąbrowski\r\n"
             "N:Dąbrowski;Łukasz;;;\r\nTEL:555\r\nEND:VCARD\r\n");
  PhoneUp();
  SyncAll();
  EXPECT_EQ(Data("FRIENDS"),
            Sorted({Texts("Ann", "Smith", "111", "333"), Texts("Bob", "Jones", "222"),
                    Texts("?ukasz", "D?browski", "555")}));

  struct Edit {
    const char* what;
    RecordTexts after;
  };
  // What EDIT can change: never NAME or SURNAME of an entry that has both.
  const Edit edits[] = {{"PHONE1", Texts("Ann", "Smith", "999", "333")},
                        {"COMMENTS", Texts("Ann", "Smith", "999", "333", "met at work")},
                        {"both phones", Texts("Ann", "Smith", "777", "888", "met at work")}};
  RecordTexts before = Texts("Ann", "Smith", "111", "333");
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.what);
    WriteData("FRIENDS",
              {e.after, Texts("Bob", "Jones", "222"), Texts("?ukasz", "D?browski", "000")});
    SyncAll();
    const std::string card = PhoneCard("Smith");
    EXPECT_NE(card.find("EMAIL:ann@example.org"), std::string::npos) << card;
    EXPECT_NE(card.find("TEL:444"), std::string::npos) << card;
    EXPECT_NE(card.find("PHOTO;VALUE=uri:http://example.org/ann.png"), std::string::npos) << card;
    EXPECT_NE(card.find(CodePageToUtf8(e.after.name)), std::string::npos) << card;
    EXPECT_NE(card.find(CodePageToUtf8(e.after.phone1)), std::string::npos) << card;
    EXPECT_EQ(Cards("phone").size(), 3u);
    before = e.after;
  }
  const std::string lukasz = PhoneCard("lukasz");
  EXPECT_NE(lukasz.find("FN:Łukasz Dąbrowski"), std::string::npos) << lukasz;
  EXPECT_NE(lukasz.find("N:Dąbrowski;Łukasz;;;"), std::string::npos) << lukasz;
  EXPECT_NE(lukasz.find("TEL:000"), std::string::npos) << lukasz;
}

TEST_F(SyncServerTest, DeletesGoBothWaysAndAConflictKeepsBoth) {
  WriteData("FRIENDS",
            {Texts("Ann", "Smith", "111"), Texts("Bob", "Jones", "222"), Texts("Cy", "Lee", "3")});
  SyncAll();
  // Deleted on the phone, deleted in velmora, changed on both.
  for (const auto& [file, bytes] : Cards("phone"))
    if (bytes.find("Smith") != std::string::npos) std::filesystem::remove(dir_ / "phone/" + file);
  EditPhoneCard("Lee", [](std::string& c) { c.replace(c.find("TEL:3"), 5, "TEL:4"); });
  PhoneUp();
  WriteData("FRIENDS", {Texts("Ann", "Smith", "111"), Texts("Cy", "Lee", "5")});
  SyncAll();
  const Set expected = Sorted({Texts("Cy", "Lee", "4"), Texts("Cy", "Lee", "5")});
  EXPECT_EQ(Data("FRIENDS"), expected);
  EXPECT_EQ(CardTexts("phone"), expected);
  EXPECT_NE(dir_.Read("velmora.log").find("1 conflict, both versions kept: Cy Lee"),
            std::string::npos)
      << Log();
}

// Killed at random moments with changes pending on both sides, each time
// followed by a clean sync: the expected contacts, none doubled, none
// missing a field.
TEST_F(SyncServerTest, FiftyKillsLoseAndDoubleNothing) {
  Set entries;
  for (int i = 0; i < 1000; ++i) entries.push_back(Texts("N" + std::to_string(i), "Kill", "1"));
  WriteData("FRIENDS", entries);
  // The kills need no server: it joins at the end.
  ASSERT_EQ(Velmora("mine", "FRIENDS"), 0) << Log();
  // Every card gets something velmora does not show.
  for (const auto& [file, bytes] : Cards("mine")) {
    std::string card = bytes;
    InsertBeforeEnd(card, "EMAIL:" + file + "@example.org\r\n");
    dir_.Write("mine/" + file, card);
  }
  ASSERT_EQ(Velmora("mine", "FRIENDS"), 0) << Log();
  Set expected = Data("FRIENDS");

  std::mt19937 random(18);
  double seconds = 0.2;
  int killedMidway = 0;
  for (int k = 0; k < 50; ++k) {
    SCOPED_TRACE(k);
    // Pending here: one edited, one deleted, one added; there: one edited,
    // one added.
    Set data = Data("FRIENDS");
    const RecordTexts editedHere = data[size_t(k * 3)], deletedHere = data[size_t(k * 3 + 1)];
    data[size_t(k * 3)].phone1 = "here" + std::to_string(k);
    data.erase(data.begin() + k * 3 + 1);
    data.push_back(Texts("Here" + std::to_string(k), "Added"));
    WriteData("FRIENDS", data);
    const auto cards = Cards("mine");
    auto it = cards.begin();
    std::advance(it, 600 + k);
    // A card of another contact than those changed here: no conflict.
    while (it->second.find("TEL:1\r\n") == std::string::npos || Shown(it->second) == editedHere ||
           Shown(it->second) == deletedHere)
      ++it;
    std::string card = it->second;
    card.replace(card.find("TEL:1"), 5, "TEL:there" + std::to_string(k));
    dir_.Write("mine/" + it->first, card);
    dir_.Write("mine/there" + std::to_string(k) + ".vcf",
               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:there" + std::to_string(k) + "\r\nFN:There" +
                   std::to_string(k) + " Added\r\nN:Added;There" + std::to_string(k) +
                   ";;;\r\nEND:VCARD\r\n");
    expected = data;
    expected.push_back(Shown(card));
    expected.erase(std::find(expected.begin(), expected.end(), Shown(it->second)));
    expected.push_back(Texts("There" + std::to_string(k), "Added"));
    expected = Sorted(expected);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const std::string vdir = dir_ / "mine";
    const std::string exe = prog_ + "velmora";
    const char* argv[] = {exe.c_str(), "--sync", vdir.c_str(), "FRIENDS", nullptr};
    ASSERT_EQ(::posix_spawn(&pid, exe.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    std::this_thread::sleep_for(
        std::chrono::duration<double>(std::uniform_real_distribution<double>(0, seconds)(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
      ++killedMidway;
    } else {
      // It finished first: aim the next kills within its time.
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    ASSERT_EQ(Velmora("mine", "FRIENDS"), 0) << Log();
    ASSERT_EQ(Data("FRIENDS"), expected);
    ASSERT_EQ(CardTexts("mine"), expected);
    size_t emails = 0;
    for (const auto& [file, bytes] : Cards("mine")) emails += bytes.find("EMAIL:") != bytes.npos;
    ASSERT_EQ(emails, 1000u - size_t(k) - 1);  // every card but the deleted ones keeps its own
  }
  std::printf("[ kill ] %d of 50 syncs killed midway\n", killedMidway);
  EXPECT_GT(killedMidway, 10);
  SyncAll();
  EXPECT_EQ(CardTexts("phone"), expected);
}

}  // namespace
}  // namespace velmora
