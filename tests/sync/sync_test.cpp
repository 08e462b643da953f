// The sync engine on scratch folders: a data file FRIENDS.VLM and a vdir.

#include "sync/sync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "platform/readcaps.h"
#include "store/extratext.h"
#include "store/filecommands.h"
#include "support/fakeenv.h"
#include "support/session.h"
#include "sync/command.h"
#include "sync/state.h"
#include "sync_support.h"

namespace velmora::testing {
namespace {

// A card as a phone would have it: more than velmora shows.
std::string RichCard(const std::string& uid, const std::string& family, const std::string& given,
                     const std::string& tel) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + given + " " + family +
         "\r\nN:" + family + ";" + given + ";;Dr.;\r\nitem1.TEL;TYPE=CELL:" + tel +
         "\r\nEMAIL;TYPE=HOME:x@example.org\r\nTEL;TYPE=WORK:555\r\nTEL:777\r\n"
         "PHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\nX-FOO;BAR=1:baz\r\nEND:VCARD\r\n";
}

// What velmora shows of RichCard(uid, "Smith", "Ann", "111").
const RecordTexts kAnn = Texts("Ann", "Smith", "111", "555");

class SyncTest : public ::testing::Test {
 public:
  SyncTest() : s(env) {
    WorkOnFriendsIn(s, dir.path());
    vdir = dir / "cards/";
    WriteData({});
  }

  void WriteData(const Set& entries) { dir.Write("FRIENDS.VLM", DataFileOf(entries)); }
  Set Data() const { return EntriesOf(dir.Read("FRIENDS.VLM")); }
  void EditData(const std::function<void(Set&)>& edit) {
    Set d = Data();
    edit(d);
    WriteData(d);
  }
  std::map<std::string, std::string> Cards() const { return CardsIn(dir, "cards"); }
  std::vector<std::string> TestDirNames() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(vdir, ec))
      out.push_back(e.path().filename());
    return out;
  }
  Set CardTexts() const { return ShownOfCards(dir, "cards"); }
  void WriteCard(const std::string& file, const std::string& bytes) {
    std::filesystem::create_directories(vdir);
    dir.Write("cards/" + file, bytes);
  }
  // The card holding a text, for edits "on the phone".
  std::string CardWith(const std::string& text) const {
    for (const auto& [file, bytes] : Cards())
      if (bytes.find(text) != std::string::npos) return file;
    return "";
  }

  SyncSummary Sync(SyncOptions o = {}) { return SyncWithVdir(s, vdir, o); }

  TestDir dir;
  FaultEnv env;
  Session s;
  std::string vdir;
};

TEST_F(SyncTest, FirstSyncPairsEqualContactsAndAddsTheRestBothWays) {
  WriteData({kAnn, kAnn, Texts("Bob", "Jones")});
  WriteCard("a.vcf", RichCard("a", "Smith", "Ann", "111"));  // twin of two entries
  WriteCard("c.vcf", RichCard("c", "Łukasz", "Dąbrowski", "222"));
  const SyncSummary sum = Sync();
  EXPECT_TRUE(sum.firstSync);
  EXPECT_EQ(sum.addedHere, 1u);
  EXPECT_EQ(sum.addedThere, 2u);  // the second twin and Bob
  EXPECT_EQ(Data(), CardTexts());
  EXPECT_EQ(Data().size(), 4u);
  EXPECT_EQ(Cards().at("a.vcf"), RichCard("a", "Smith", "Ann", "111"));
  // A second sync finds nothing to do.
  const SyncSummary again = Sync();
  EXPECT_EQ(again.addedHere + again.addedThere + again.changedHere + again.changedThere +
                again.deletedHere + again.deletedThere,
            0u);
}

// One contact the last sync left on both sides, then a change on either
// side or both, then a sync: what both sides hold after it.
struct Step {
  const char* what;
  std::function<void(Set&)> here;  // applied to the data file
  std::function<void(SyncTest&, const std::string& file)> there;
  Prefer prefer;
  Set expected;
  size_t conflicts;
  bool sameCard;  // the contact keeps its card file, with its EMAIL
};

void SetPhone(Set& d, const std::string& phone) { d[0].phone1 = phone; }
void CardPhone(SyncTest& t, const std::string& file, const std::string& phone);

void PrintTo(const Step& step, std::ostream* os) { *os << step.what; }

class SyncStepTest : public SyncTest, public ::testing::WithParamInterface<Step> {};

TEST_P(SyncStepTest, ChangesReachTheOtherSide) {
  const Step& step = GetParam();
  WriteCard("ann.vcf", RichCard("ann", "Smith", "Ann", "111"));
  WriteData({kAnn});
  Sync();  // pairs the two: the card gains the comment
  ASSERT_EQ(Data(), Set{kAnn});
  if (step.here) EditData(step.here);
  if (step.there) step.there(*this, "ann.vcf");
  SyncOptions o;
  o.prefer = step.prefer;
  const SyncSummary sum = Sync(o);
  EXPECT_EQ(Data(), Sorted(step.expected)) << step.what;
  EXPECT_EQ(CardTexts(), Sorted(step.expected)) << step.what;
  EXPECT_EQ(sum.conflicts.size(), step.conflicts) << step.what;
  if (step.sameCard) {
    const std::string card = Cards().count("ann.vcf") ? Cards().at("ann.vcf") : "";
    EXPECT_NE(card.find("EMAIL;TYPE=HOME:x@example.org"), std::string::npos) << step.what;
    EXPECT_NE(card.find("TEL:777"), std::string::npos) << step.what;
    EXPECT_NE(card.find("PHOTO;ENCODING=b;TYPE=JPEG:AAAA"), std::string::npos) << step.what;
  }
  // Settled: the next sync changes nothing.
  const SyncSummary again = Sync();
  EXPECT_EQ(again.addedHere + again.addedThere + again.changedHere + again.changedThere +
                again.deletedHere + again.deletedThere,
            0u)
      << step.what;
}

void CardPhone(SyncTest& t, const std::string& file, const std::string& phone) {
  std::string card = t.dir.Read("cards/" + file);
  const std::string from = "TYPE=CELL:111";
  card.replace(card.find(from), from.size(), "TYPE=CELL:" + phone);
  t.dir.Write("cards/" + file, card);
}

RecordTexts With(RecordTexts t, int field, const std::string& v) {
  std::string* all[] = {&t.name, &t.surname, &t.phone1, &t.phone2, &t.comments};
  *all[field] = v;
  return t;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SyncStepTest,
    ::testing::Values(
        Step{"phone edited here",
             [](Set& d) { SetPhone(d, "999"); },
             nullptr,
             Prefer::kBoth,
             {With(kAnn, 2, "999")},
             0,
             true},
        Step{"four fields edited here",
             [](Set& d) { d[0] = Texts("Anna", "Smyth", "999", "555", "boss"); },
             nullptr,
             Prefer::kBoth,
             {Texts("Anna", "Smyth", "999", "555", "boss")},
             0,
             true},
        Step{"phone edited there",
             nullptr,
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kBoth,
             {With(kAnn, 2, "888")},
             0,
             true},
        Step{"different fields edited on both sides",
             [](Set& d) { d[0].comments = "boss"; },
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kBoth,
             {Texts("Ann", "Smith", "888", "555", "boss")},
             0,
             true},
        Step{"the same edit on both sides",
             [](Set& d) { SetPhone(d, "888"); },
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kBoth,
             {With(kAnn, 2, "888")},
             0,
             true},
        Step{"a conflict keeps both",
             [](Set& d) { SetPhone(d, "999"); },
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kBoth,
             {With(kAnn, 2, "999"), With(kAnn, 2, "888")},
             1,
             true},
        Step{"a conflict, velmora preferred",
             [](Set& d) { SetPhone(d, "999"); },
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kHere,
             {With(kAnn, 2, "999")},
             1,
             true},
        Step{"a conflict, the folder preferred",
             [](Set& d) { SetPhone(d, "999"); },
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kThere,
             {With(kAnn, 2, "888")},
             1,
             true},
        Step{"a comment holding an escape edited here",
             [](Set& d) { d[0].comments = "50%41"; },
             nullptr,
             Prefer::kBoth,
             {With(kAnn, 4, "50%41")},
             0,
             true},
        Step{"deleted here", [](Set& d) { d.clear(); }, nullptr, Prefer::kBoth, {}, 0, false},
        Step{"deleted there",
             nullptr,
             [](SyncTest& t, auto& f) { std::filesystem::remove(t.vdir + f); },
             Prefer::kBoth,
             {},
             0,
             false},
        Step{"deleted here, changed there",
             [](Set& d) { d.clear(); },
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kBoth,
             {With(kAnn, 2, "888")},
             0,
             true},
        Step{"changed here, deleted there",
             [](Set& d) { SetPhone(d, "999"); },
             [](SyncTest& t, auto& f) { std::filesystem::remove(t.vdir + f); },
             Prefer::kBoth,
             {With(kAnn, 2, "999")},
             0,
             false},
        Step{"added on both sides",
             [](Set& d) { d.push_back(Texts("Bob", "Jones")); },
             [](SyncTest& t, auto&) { t.WriteCard("c.vcf", RichCard("c", "Lee", "Cy", "3")); },
             Prefer::kBoth,
             {kAnn, Texts("Bob", "Jones"), Texts("Cy", "Lee", "3", "555")},
             0,
             true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(SyncTest, ACardKeepsWhatVelmoraCannotShowUntilThatFieldChanges) {
  // Outside the code page and longer than a field: velmora shows "?" and
  // cuts; the card stays whole while only the phone changes.
  const std::string family = "Dąbrowski-Wierzbicka-Kowalczyk";
  WriteCard("l.vcf", RichCard("l", family, "Łukasz", "111"));
  Sync();
  EditData([](Set& d) { d[0].phone1 = "999"; });
  Sync();
  std::string card = Cards().at("l.vcf");
  EXPECT_NE(card.find("N:" + family + ";Łukasz;;Dr.;"), std::string::npos) << card;
  EXPECT_NE(card.find("FN:Łukasz " + family), std::string::npos) << card;
  EXPECT_NE(card.find("item1.TEL;TYPE=CELL:999"), std::string::npos) << card;
  EXPECT_NE(card.find("X-FOO;BAR=1:baz"), std::string::npos) << card;
  // The given name changed: only it is replaced; the family name stays whole.
  EditData([](Set& d) { d[0].name = "Lukas"; });
  Sync();
  card = Cards().at("l.vcf");
  EXPECT_NE(card.find("N:" + family + ";Lukas;;Dr.;"), std::string::npos) << card;
}

TEST_F(SyncTest, AnUnreadableCardIsReportedAndSkippedAndTheOthersSync) {
  WriteCard("bad.vcf", "BEGIN:VCARD\r\nno colon here\r\n");
  WriteCard("good.vcf", RichCard("g", "Good", "Gil", "1"));
  WriteData({Texts("Bob", "Jones")});
  const SyncSummary sum = Sync();
  ASSERT_EQ(sum.skipped.size(), 1u);
  EXPECT_EQ(sum.skipped[0].substr(0, 8), "bad.vcf:");
  EXPECT_EQ(Data(), Sorted({Texts("Bob", "Jones"), Texts("Gil", "Good", "1", "555")}));
  EXPECT_EQ(Cards().at("bad.vcf"), "BEGIN:VCARD\r\nno colon here\r\n");
}

TEST_F(SyncTest, ASecondPartnerIsRefusedWithoutReset) {
  WriteData({Texts("Bob", "Jones")});
  Sync();
  const std::string first = vdir;
  vdir = dir / "other/";
  EXPECT_THROW(Sync(), SyncRefused);
  SyncOptions reset;
  reset.reset = true;
  EXPECT_NO_THROW(Sync(reset));
  // The first vdir now names FRIENDS, and so does not take a second file.
  dir.Write("OTHER.VLM", "");
  s.WorkingName = "OTHER";
  vdir = first;
  EXPECT_THROW(Sync(), SyncRefused);
  // Its state hides from the extra-text name rule and the data file list.
  EXPECT_FALSE(IsSafeTextName(s, ".FRIENDS.VLM.sync"));
  EXPECT_TRUE(dir.Exists(".FRIENDS.VLM.sync"));
}

TEST_F(SyncTest, AMissingGarbledOrOversizedStateIsAFirstSyncNotADeletion) {
  // The state ("" removed, "big" grown past the cap), and what is told.
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"velmora sync state 1\ndir\t/x/\ncut sho", "is no sync state velmora can read"},
      {"big", "is larger than 4 GiB and was not read"}};
  for (const auto& [state, told] : cases) {
    WriteData({Texts("Bob", "Jones"), Texts("Cy", "Lee")});
    Sync();
    if (std::string(state) == "big")
      std::filesystem::resize_file(SyncStatePath(s), kMaxSyncStateBytes + 1);
    else if (*state)
      dir.Write(".FRIENDS.VLM.sync", state);
    else
      std::filesystem::remove(SyncStatePath(s));
    EditData([](Set& d) { d.pop_back(); });
    const SyncSummary sum = Sync();
    EXPECT_TRUE(sum.firstSync) << state;
    EXPECT_EQ(sum.deletedThere + sum.deletedHere, 0u) << state;
    EXPECT_EQ(Data(), Sorted({Texts("Bob", "Jones"), Texts("Cy", "Lee")})) << state;
    EXPECT_EQ(CardTexts(), Data()) << state;
    EXPECT_EQ(sum.stateProblem.substr(0, sum.stateProblem.find(';')),
              *told ? SyncStatePath(s) + " " + told : "")
        << state;
  }
}

// A state of many blocks, lines crossing their ends, every byte in a text:
// what is read back writes the same bytes again.
TEST_F(SyncTest, AStateReadsBackAsWritten) {
  SyncState st{"/v/\t%41\n/", {}};
  std::string every;
  for (int b = 1; b < 256; ++b) every += char(b);
  for (int i = 0; i < 3000; ++i)
    st.pairs.push_back(
        {std::to_string(i) + ".vcf",
         {-i, 1, 2},
         3,
         Texts(every.substr(i % 200, 40), "%41", "", "\r\n", std::string(i % 90, 'x'))});
  const std::string path = SyncStatePath(s);
  SaveSyncState(env, dir.path(), path, st);
  const std::string written = dir.Read(".FRIENDS.VLM.sync");
  const LoadedState back = LoadSyncState(env, path);
  ASSERT_TRUE(back.state) << back.problem;
  EXPECT_EQ(back.state->pairs.size(), st.pairs.size());
  SaveSyncState(env, dir.path(), path, *back.state);
  EXPECT_TRUE(dir.Read(".FRIENDS.VLM.sync") == written);
}

// The marker or the state made a link (or a folder) by someone else: nothing
// where it leads is read, printed or written; --reset replaces the link.
TEST_F(SyncTest, ALinkAsMarkerOrStateIsNeverFollowed) {
  const std::string link = " is a link, which the sync does not follow; --reset replaces the link";
  struct {
    bool marker, folder, reset;  // the marker, else the state; a folder, else a link
    std::string refusal;
  } cases[] = {
      {true, false, false, link},
      {true, false, true, ""},
      {false, false, false, link},
      {false, false, true, ""},
      {true, true, true, " is not a regular file; the sync neither reads nor replaces it"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.marker) + std::to_string(c.folder) + std::to_string(c.reset));
    WriteData({Texts("Bob", "Jones")});
    Sync();
    const std::string companion = c.marker ? vdir + kVdirMarkerName : SyncStatePath(s);
    dir.Write("secret", "secret line\n");
    std::filesystem::remove(companion);
    if (c.folder)
      std::filesystem::create_directory(companion);
    else
      std::filesystem::create_symlink(dir / "secret", companion);
    SyncOptions o;
    o.reset = c.reset;
    std::string refusal;
    try {
      Sync(o);
    } catch (const SyncRefused& e) {
      refusal = e.what();
    }
    EXPECT_EQ(refusal, c.refusal.empty() ? "" : companion + c.refusal);
    EXPECT_EQ(std::filesystem::is_symlink(companion), !c.folder && !c.refusal.empty());
    EXPECT_EQ(dir.Read("secret"), "secret line\n");
    std::filesystem::remove_all(companion);
  }
}

// RENAME takes the state along but leaves the marker naming the old path:
// the sync takes up the pairing, and a later file of the old name is a
// stranger to the folder.
TEST_F(SyncTest, ARenamedDataFileKeepsItsPairing) {
  WriteData({Texts("Bob", "Jones")});
  Sync();
  RenameFileReplacing(s, "FRIENDS.VLM", "PALS.VLM");
  s.WorkingName = "PALS";
  dir.Write("PALS.VLM", "");  // Bob deleted
  const SyncSummary sum = Sync();
  EXPECT_FALSE(sum.firstSync);
  EXPECT_EQ(sum.deletedThere, 1u);
  EXPECT_EQ(dir.Read("cards/" + std::string(kVdirMarkerName)),
            std::filesystem::canonical(dir / "PALS.VLM").string() + "\n");
  dir.Write("FRIENDS.VLM", "");
  s.WorkingName = "FRIENDS";
  EXPECT_THROW(Sync(), SyncRefused);
}

// A sync that fails at any one of its file steps, then a clean one: the
// expected contacts, none doubled or lost, nothing left behind.
TEST_F(SyncTest, ASyncCutShortAtAnyStepIsCompletedByTheNext) {
  for (int step = 0;; ++step) {
    SCOPED_TRACE(step);
    std::filesystem::remove_all(vdir);
    std::filesystem::remove(SyncStatePath(s));
    WriteCard("ann.vcf", RichCard("ann", "Smith", "Ann", "111"));
    WriteCard("del.vcf", RichCard("del", "Gone", "Al", "5"));
    WriteData({kAnn, Texts("Bob", "Jones"), Texts("Al", "Gone", "5", "555")});
    Sync();
    // Pending: an edit each side, an add each side, a delete here, a conflict.
    EditData([](Set& d) {
      d.erase(d.begin());  // Al Gone
      d[0].comments = "boss";
      d[1].phone1 = "42";  // Bob
      d.push_back(Texts("Dee", "New"));
    });
    CardPhone(*this, "ann.vcf", "888");
    WriteCard("cy.vcf", RichCard("cy", "Lee", "Cy", "3"));
    env.FailAt(step, EIO);
    bool failed = false;
    try {
      Sync();
    } catch (const IoError&) {
      failed = true;
    }
    const bool fired = env.fired();
    env.Heal();
    Sync();
    const Set expected =
        Sorted({Texts("Ann", "Smith", "888", "555", "boss"), Texts("Bob", "Jones", "42"),
                Texts("Dee", "New"), Texts("Cy", "Lee", "3", "555")});
    EXPECT_EQ(Data(), expected);
    EXPECT_EQ(CardTexts(), expected);
    EXPECT_NE(Cards().at("ann.vcf").find("x@example.org"), std::string::npos);
    for (const std::string& n : TestDirNames()) EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
    EXPECT_EQ(env.openFiles(), 0);
    if (!fired) {
      EXPECT_FALSE(failed);
      break;
    }
  }
}

TEST(SyncCommandTest, SaysWhatItDidOrWhyNot) {
  TestDir dir;
  dir.Write("FRIENDS.VLM", FileOf({Rec("Ann", "Smith")}));
  std::vector<std::string> lines;
  auto run = [&](std::vector<std::string> args) {
    lines.clear();
    return RunSyncCommand(args, dir.path(), Env::Posix(),
                          [&](const std::string& l) { lines.push_back(l); });
  };
  const std::string vdir = dir / "v";
  EXPECT_EQ(run({"--sync", vdir, "friends"}), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "velmora: FRIENDS.VLM synced with " + vdir +
                          " for the first time: 0 added, 0 changed, 0 deleted in velmora, "
                          "1 added, 0 changed, 0 deleted in the folder");
  EXPECT_EQ(run({"--sync", vdir, "brink"}), 1);
  EXPECT_EQ(lines.back(), "velmora: You cannot edit this file. - Open or create a different file.");
  EXPECT_EQ(run({"--sync", vdir, "friends", "--prefer", "both"}), 2);
  EXPECT_EQ(lines.back(), "usage: velmora --sync DIR [NAME] [--prefer here|there] [--reset]");
  EXPECT_EQ(run({"--sync", dir / "w", "friends"}), 1);
  EXPECT_NE(lines.back().find("; --reset pairs it with"), std::string::npos) << lines.back();
}

}  // namespace
}  // namespace velmora::testing
