// The sync engine on scratch folders: a data file FRIENDS.VLM and a vdir.

#include "sync/sync.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <utility>

#include "model_sync.h"
#include "platform/readcaps.h"
#include "store/extratext.h"
#include "store/filecommands.h"
#include "store/startup.h"
#include "support/fakeenv.h"
#include "support/session.h"
#include "sync/command.h"
#include "sync/state.h"
#include "sync/storesync.h"
#include "sync/vdirstore.h"
#include "sync_support.h"

namespace velmora::testing {
namespace {

// What velmora shows of RichCard(uid, "Smith", "Ann", "111").
const RecordTexts kAnn = Texts("Ann", "Smith", "111", "555");

// A note longer than COMMENTS whose first 50 characters end in a blank, as
// notes written on phones are.
const std::string kLongNote = std::string(49, 'n') + " and the rest that only the card holds";
const std::string kAnnWithNote = [] {
  std::string card = RichCard("ann", "Smith", "Ann", "111");
  card.insert(card.find("END:VCARD"), "NOTE:" + kLongNote + "\r\n");
  return card;
}();

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
  static uint64_t Changes(const SyncSummary& sum) {
    return sum.addedHere + sum.addedThere + sum.changedHere + sum.changedThere + sum.deletedHere +
           sum.deletedThere;
  }

  TestDir dir;
  std::string outside;  // a card a link in the vdir leads to
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
  bool sameCard;                  // the contact keeps its card file, with its EMAIL
  const char* planned = nullptr;  // the first line of a dry run's plan; "" for none
  const char* skipped = nullptr;  // how a card named as skipped begins
  std::optional<Set> cards = {};  // what the cards show, when not what velmora holds
  int syncs = 1;                  // a card changed meanwhile settles in the second
  std::string card = "";          // ann.vcf before the first sync, when not the usual one
  std::string inCards = "";       // a text some card must hold after the sync
  std::string notInCards = "";    // a text no card may hold after it
};

void SetPhone(Set& d, const std::string& phone) { d[0].phone1 = phone; }
void CardPhone(SyncTest& t, const std::string& file, const std::string& phone);

void PrintTo(const Step& step, std::ostream* os) { *os << step.what; }

class SyncStepTest : public SyncTest, public ::testing::WithParamInterface<Step> {};

TEST_P(SyncStepTest, ChangesReachTheOtherSide) {
  const Step& step = GetParam();
  WriteCard("ann.vcf", step.card.empty() ? RichCard("ann", "Smith", "Ann", "111") : step.card);
  // A contact that stays on both sides, so that no step empties a side.
  const RecordTexts bystander = Texts("Cy", "Lee");
  WriteData({Shown(dir.Read("cards/ann.vcf")), bystander});
  Sync();  // pairs the two
  if (step.here) EditData(step.here);
  if (step.there) step.there(*this, "ann.vcf");
  SyncOptions o;
  o.prefer = step.prefer;
  // A dry run first: it writes nothing, and plans what the sync then does.
  const auto before = std::make_tuple(dir.Read("FRIENDS.VLM"), Cards(), TestDirNames());
  env.FailEveryWrite(EROFS);
  SyncOptions dryRun = o;
  dryRun.dryRun = true;
  const std::vector<std::string> plan = Sync(dryRun).plan;
  env.Heal();
  EXPECT_FALSE(env.fired()) << step.what;
  EXPECT_EQ(std::make_tuple(dir.Read("FRIENDS.VLM"), Cards(), TestDirNames()), before);
  if (step.planned) {
    EXPECT_EQ(plan.empty() ? "" : plan[0], step.planned) << step.what;
  }
  SyncSummary sum;
  std::string skipped;
  for (int i = 0; i < step.syncs; ++i)
    for (const SkippedCard& card : (sum = Sync(o)).skipped)
      skipped += "\n" + card.file + ": " + card.why;
  if (step.syncs == 1) {
    EXPECT_EQ(plan.size(), Changes(sum)) << step.what;
  }
  Set expected = step.expected, cards = step.cards.value_or(step.expected);
  expected.push_back(bystander);
  cards.push_back(bystander);
  EXPECT_EQ(Data(), Sorted(expected)) << step.what;
  // A card shows a text cut to its field, which may end in a blank.
  EXPECT_EQ(Trimmed(CardTexts()), Trimmed(cards)) << step.what;
  EXPECT_EQ(sum.conflicts.size(), step.conflicts) << step.what;
  std::string all;
  for (const auto& [file, bytes] : Cards()) all += bytes;
  if (!step.inCards.empty()) {
    EXPECT_NE(all.find(step.inCards), std::string::npos) << step.what;
  }
  if (!step.notInCards.empty()) {
    EXPECT_EQ(all.find(step.notInCards), std::string::npos) << step.what;
  }
  if (step.skipped) {
    EXPECT_NE(skipped.find("\n" + std::string(step.skipped)), skipped.npos);
  }
  // Nothing outside the vdir is touched, nor made.
  if (!outside.empty()) {
    EXPECT_EQ(dir.Read("outside/ann.vcf"), outside);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "outside"), {}), 1);
  }
  if (step.sameCard) {
    const std::string card = Cards().count("ann.vcf") ? Cards().at("ann.vcf") : "";
    EXPECT_NE(card.find("EMAIL;TYPE=HOME:x@example.org"), std::string::npos) << step.what;
    EXPECT_NE(card.find("TEL:777"), std::string::npos) << step.what;
    EXPECT_NE(card.find("PHOTO;ENCODING=b;TYPE=JPEG:AAAA"), std::string::npos) << step.what;
  }
  // Settled: the next sync changes nothing.
  EXPECT_EQ(Changes(Sync()), 0u) << step.what;
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
             true,
             "there: change ann.vcf (Ann Smith): PHONE1"},
        Step{"three fields edited here",
             [](Set& d) { d[0] = Texts("Ann", "Smith", "999", "555", "boss"); },
             nullptr,
             Prefer::kBoth,
             {Texts("Ann", "Smith", "999", "555", "boss")},
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
             true,
             "there: change ann.vcf (Ann Smith): COMMENTS"},
        Step{"the same edit on both sides",
             [](Set& d) { SetPhone(d, "888"); },
             [](SyncTest& t, auto& f) { CardPhone(t, f, "888"); },
             Prefer::kBoth,
             {With(kAnn, 2, "888")},
             0,
             true,
             ""},
        Step{"a phone edited in the window, which trims a long note's cut text",
             [](Set& d) { d[0] = Texts("Ann", "Smith", "999", "555", std::string(49, 'n')); },
             nullptr,
             Prefer::kBoth,
             {Texts("Ann", "Smith", "999", "555", std::string(49, 'n'))},
             0,
             true,
             nullptr,
             nullptr,
             {},
             1,
             kAnnWithNote,
             kLongNote.substr(49)},
        Step{"deleted, and another added with the same phone",
             [](Set& d) { d[0] = Texts("Zoe", "Brown", "111"); },
             nullptr,
             Prefer::kBoth,
             {Texts("Zoe", "Brown", "111")},
             0,
             false,
             nullptr,
             nullptr,
             {},
             1,
             "",
             "",
             "x@example.org"},
        Step{"a surname added to an entry that had none",
             [](Set& d) { d[0] = Texts("Ann", "Smith", "111", "555"); },
             nullptr,
             Prefer::kBoth,
             {Texts("Ann", "Smith", "111", "555")},
             0,
             true,
             nullptr,
             nullptr,
             {},
             1,
             RichCard("ann", "", "Ann", "111")},
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
        Step{"deleted here",
             [](Set& d) { d.erase(d.begin()); },
             nullptr,
             Prefer::kBoth,
             {},
             0,
             false,
             "there: delete ann.vcf (Ann Smith)"},
        Step{"deleted there",
             nullptr,
             [](SyncTest& t, auto& f) { std::filesystem::remove(t.vdir + f); },
             Prefer::kBoth,
             {},
             0,
             false,
             "here: delete Ann Smith"},
        Step{"deleted here, changed there",
             [](Set& d) { d.erase(d.begin()); },
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
             true},
        Step{"a card made a link is never followed, written or removed",
             [](Set& d) { SetPhone(d, "999"); },
             [](SyncTest& t, auto& f) {
               t.outside = t.dir.Read("cards/" + f);
               std::filesystem::create_directories(t.dir / "outside");
               t.dir.Write("outside/" + f, t.outside);
               std::filesystem::remove(t.vdir + f);
               std::filesystem::create_symlink("../outside/" + f, t.vdir + f);
             },
             Prefer::kBoth,
             {With(kAnn, 2, "999")},
             0,
             false,
             nullptr,
             "ann.vcf: a link",
             Set{kAnn}},
        Step{"a file of several cards is never paired",
             [](Set& d) { d.erase(d.begin()); },
             [](SyncTest& t, auto&) {
               t.WriteCard("backup.vcf",
                           RichCard("a", "Smith", "Ann", "111") + RichCard("b", "Ek", "Bo", "2"));
             },
             Prefer::kBoth,
             {},
             0,
             false,
             "there: delete ann.vcf (Ann Smith)",
             "backup.vcf: holds 2 cards",
             Set{kAnn}},
        Step{"a card changed between the read and the rename is left alone",
             [](Set& d) { SetPhone(d, "999"); },
             [](SyncTest& t, auto& f) {
               t.env.beforeStep = [&t, f, done = false](const std::string& kind) mutable {
                 if (kind != "create" || std::exchange(done, true)) return;
                 CardPhone(t, f, "888");  // another writer, before the rename
               };
             },
             Prefer::kBoth,
             {With(kAnn, 2, "999"), With(kAnn, 2, "888")},
             1,
             true,
             nullptr,
             "ann.vcf: changed meanwhile",
             std::nullopt,
             2}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(SyncTest, ACardKeepsWhatVelmoraCannotShowUntilThatFieldChanges) {
  // Outside the code page and longer than a field: velmora shows "?" and
  // cuts; the card stays whole while only the phone changes.
  const std::string family = "Dąbrowski-Wierzbicka-Kowalczyk";
  WriteCard("l.vcf", RichCard("l", family, "Łukasz", "111"));
  const SyncSummary first = Sync();
  EXPECT_EQ(first.cut, 1u);       // the surname
  EXPECT_EQ(first.replaced, 2u);  // ą and Ł
  EditData([](Set& d) { d[0].phone1 = "999"; });
  Sync();
  std::string card = Cards().at("l.vcf");
  EXPECT_NE(card.find("N:" + family + ";Łukasz;;Dr.;"), std::string::npos) << card;
  EXPECT_NE(card.find("FN:Łukasz " + family), std::string::npos) << card;
  EXPECT_NE(card.find("item1.TEL;TYPE=CELL:999"), std::string::npos) << card;
  EXPECT_NE(card.find("X-FOO;BAR=1:baz"), std::string::npos) << card;
  // The comments changed: a NOTE is added; the names stay whole.
  EditData([](Set& d) { d[0].comments = "met in Krakow"; });
  Sync();
  card = Cards().at("l.vcf");
  EXPECT_NE(card.find("N:" + family + ";Łukasz;;Dr.;"), std::string::npos) << card;
  EXPECT_NE(card.find("NOTE:met in Krakow"), std::string::npos) << card;
}

TEST_F(SyncTest, AnUnreadableCardIsReportedAndSkippedAndTheOthersSync) {
  WriteCard("bad.vcf", "BEGIN:VCARD\r\nno colon here\r\n");
  WriteCard("good.vcf", RichCard("g", "Good", "Gil", "1"));
  WriteData({Texts("Bob", "Jones")});
  const SyncSummary sum = Sync();
  ASSERT_EQ(sum.skipped.size(), 1u);
  EXPECT_EQ(sum.skipped[0].file, "bad.vcf");
  EXPECT_EQ(Data(), Sorted({Texts("Bob", "Jones"), Texts("Gil", "Good", "1", "555")}));
  EXPECT_EQ(Cards().at("bad.vcf"), "BEGIN:VCARD\r\nno colon here\r\n");
}

// The sample entry and an incomplete record at the end of the data file
// are no contacts: the sync leaves them as they are.
TEST_F(SyncTest, WhatIsNoContactStaysOutOfTheSync) {
  const std::string tail = "half a record";
  dir.Write("FRIENDS.VLM", DataFileOf({Texts("Bob", "Jones"), SampleRecord().Texts()}) + tail);
  WriteCard("c.vcf", RichCard("c", "Lee", "Cy", "3"));
  SyncSummary sum = Sync();
  EXPECT_EQ(sum.tailLeftOut, tail.size());
  EXPECT_EQ(CardTexts(), Sorted({Texts("Bob", "Jones"), Texts("Cy", "Lee", "3", "555")}));
  const std::string data = dir.Read("FRIENDS.VLM");
  EXPECT_EQ(data.substr(data.size() - tail.size()), tail);
  EXPECT_EQ(
      EntriesOf(data.substr(0, data.size() - tail.size())),
      Sorted({Texts("Bob", "Jones"), SampleRecord().Texts(), Texts("Cy", "Lee", "3", "555")}));
  dir.Write("FRIENDS.VLM", DataFileOf({SampleRecord().Texts()}));
  // A backup of several cards that an older velmora paired by its first
  // card outlives that contact's delete.
  const std::string backup = RichCard("a", "Smith", "Ann", "111") + RichCard("b", "Ek", "Bo", "2");
  WriteCard("backup.vcf", backup);
  struct stat st;
  ASSERT_EQ(::stat((vdir + "backup.vcf").c_str(), &st), 0);
  SaveSyncState(env, dir.path(), SyncStatePath(s),
                {vdir,
                 {{"backup.vcf",
                   {int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                    uint64_t(st.st_size), uint64_t(st.st_ino)},
                   CardHash(backup),
                   kAnn}}});
  sum = Sync();
  EXPECT_EQ(sum.deletedThere, 0u);
  EXPECT_EQ(Cards().at("backup.vcf"), backup);
}

// A folder whose cards all went away, or a data file emptied, is taken for
// a fault unless the user says otherwise; nothing is written meanwhile.
TEST_F(SyncTest, AnEmptiedSideIsRefusedUnlessAllowed) {
  for (const bool emptyHere : {false, true}) {
    SCOPED_TRACE(emptyHere);
    std::filesystem::remove_all(vdir);
    std::filesystem::remove(SyncStatePath(s));
    WriteData({Texts("Bob", "Jones"), Texts("Cy", "Lee")});
    Sync();
    if (emptyHere)
      WriteData({});
    else
      for (const auto& [file, bytes] : Cards()) std::filesystem::remove(vdir + file);
    const std::string data = dir.Read("FRIENDS.VLM");
    const auto cards = Cards();
    EXPECT_THROW(Sync(), SyncRefused);
    EXPECT_EQ(dir.Read("FRIENDS.VLM"), data);
    EXPECT_EQ(Cards(), cards);
    SyncOptions allow;
    allow.allowEmpty = true;
    const SyncSummary sum = Sync(allow);
    EXPECT_EQ(sum.deletedHere + sum.deletedThere, 2u);
    EXPECT_TRUE(Data().empty());
    EXPECT_TRUE(Cards().empty());
  }
}

TEST_F(SyncTest, ASecondPartnerIsRefusedWithoutReset) {
  WriteData({Texts("Bob", "Jones")});
  Sync();
  const std::string first = vdir;
  vdir = dir / "other/";
  EXPECT_THROW(Sync(), SyncRefused);
  EXPECT_FALSE(dir.Exists("other"));  // a refused sync makes no folder
  SyncOptions reset;
  reset.reset = true;
  reset.dryRun = true;
  EXPECT_EQ(Sync(reset).plan.size(), 1u);
  EXPECT_FALSE(dir.Exists("other"));
  reset.dryRun = false;
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

// A vdir as an address book would be synced: a store made once the state
// is read, which hands out a token, and a data file that the windows may
// change while the cards are fetched and written without the lock.
TEST_F(SyncTest, AnAccountsStoreIsFetchedByTheBatchAndTheDataFileChangedMeanwhileIsLeftAlone) {
  struct Recording : CardStore {
    Recording(Env& env, const std::string& dir, std::vector<size_t>& batches,
              const std::function<void()>& meanwhile)
        : vdir(env, dir), batches(batches), meanwhile(meanwhile) {}
    std::vector<CardListing> List() override { return vdir.List(); }
    std::string Get(const std::string& name, uint64_t cap) override { return vdir.Get(name, cap); }
    void Prefetch(const std::vector<std::string>& names) override {
      batches.push_back(names.size());
    }
    void BeginWrites(size_t puts) override { vdir.BeginWrites(puts); }
    void Put(const std::string& name, std::string_view bytes,
             const std::optional<CardStamp>& expected, Done done) override {
      vdir.Put(name, bytes, expected, std::move(done));
    }
    void Delete(const std::string& name, const CardStamp& expected, Done done) override {
      vdir.Delete(name, expected, std::move(done));
    }
    void Flush() override {
      vdir.Flush();
      if (meanwhile) meanwhile();
    }
    VdirStore vdir;
    std::vector<size_t>& batches;
    const std::function<void()>& meanwhile;
  };
  std::vector<size_t> batches;
  std::function<void()> meanwhile;
  std::string knownToken;
  StoreSide side;
  side.partner = "https://dav.example/ann/book/";
  side.vdir = false;
  side.open = [&](const std::optional<SyncState>& last) {
    knownToken = last ? last->token : "none";
    return std::make_unique<Recording>(env, vdir, batches, meanwhile);
  };
  side.token = [](CardStore&) { return std::string("tok"); };
  auto sync = [&](SyncOptions o = {}) { return SyncWithStore(s, side, o, nullptr); };
  auto state = [&] { return *LoadSyncState(env, SyncStatePath(s)).state; };

  for (int i = 0; i < 250; ++i)
    WriteCard(std::to_string(i) + ".vcf",
              RichCard("u" + std::to_string(i), "S", "N", std::to_string(i)));
  sync();
  EXPECT_EQ(knownToken, "none");
  EXPECT_EQ(batches, (std::vector<size_t>{100, 100, 50}));
  EXPECT_EQ(Data().size(), 250u);
  EXPECT_EQ(state().dir, side.partner);
  EXPECT_EQ(state().token, "tok");

  // An entry added in the windows while the sync wrote a card: neither the
  // data file nor the state is written, and the next sync pairs the card.
  EditData([](Set& d) { d.push_back(Texts("Cy", "Lee", "3")); });
  const std::string stateBefore = dir.Read(".FRIENDS.VLM.sync");
  meanwhile = [&] { EditData([](Set& d) { d.push_back(Texts("Di", "Ek", "4")); }); };
  EXPECT_THROW(sync(), DataFileChanged);
  EXPECT_EQ(knownToken, "tok");
  EXPECT_EQ(dir.Read(".FRIENDS.VLM.sync"), stateBefore);
  EXPECT_EQ(Data().size(), 252u);
  meanwhile = nullptr;
  sync();
  EXPECT_EQ(Cards().size(), 252u);
  EXPECT_EQ(Data().size(), 252u);
  EXPECT_EQ(Changes(sync()), 0u);

  // A card left behind, or one emptied while its entry stands, keeps no
  // token, so that the next listing is whole; another partner is refused
  // unless reset.
  WriteCard("0.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u0\r\nEND:VCARD\r\n");
  sync();
  EXPECT_EQ(state().token, "");
  WriteCard("bad.vcf", "junk\n");
  sync();
  EXPECT_EQ(state().token, "");
  side.partner = "https://dav.example/ann/other/";
  EXPECT_THROW(sync(), SyncRefused);
  EXPECT_THROW(SyncWithVdir(s, vdir), SyncRefused);
  SyncOptions reset;
  reset.reset = true;
  EXPECT_NO_THROW(sync(reset));
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
  WriteData({Texts("Bob", "Jones"), Texts("Cy", "Lee")});
  Sync();
  RenameFileReplacing(s, "FRIENDS.VLM", "PALS.VLM");
  s.WorkingName = "PALS";
  dir.Write("PALS.VLM", DataFileOf({Texts("Cy", "Lee")}));  // Bob deleted
  const SyncSummary sum = Sync();
  EXPECT_FALSE(sum.firstSync);
  EXPECT_EQ(sum.deletedThere, 1u);
  EXPECT_EQ(dir.Read("cards/" + std::string(kVdirMarkerName)),
            std::filesystem::canonical(dir / "PALS.VLM").string() + "\n");
  dir.Write("FRIENDS.VLM", "");
  s.WorkingName = "FRIENDS";
  EXPECT_THROW(Sync(), SyncRefused);
}

// The model test (model_sync.h) on the vdir.
TEST_F(SyncTest, RandomChangesOnBothSidesSettleAndLoseNothing) {
  struct Vdir : CardSide {
    explicit Vdir(SyncTest& t) : CardSide(true, false), t(t) {}
    void Clear() override {
      std::filesystem::remove_all(t.vdir);
      std::filesystem::remove(SyncStatePath(t.s));
    }
    // As another tool writes: a new file renamed over the card.
    void Put(const std::string& file, const std::string& bytes) override {
      t.WriteCard(".new", bytes);
      std::filesystem::rename(t.vdir + ".new", t.vdir + file);
    }
    void Remove(const std::string& file) override { std::filesystem::remove(t.vdir + file); }
    std::map<std::string, std::string> Cards() override { return t.Cards(); }
    SyncSummary Sync(const SyncOptions& o) override { return t.Sync(o); }
    SyncTest& t;
  } vdirSide(*this);
  RandomChangesSettle(vdirSide, dir, 12);
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
  // Each row on a fresh data folder $D holding FRIENDS.VLM, with a vCard
  // folder $V and a home folder $H; a line ending in "*" is matched up to it.
  struct Row {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> lines;
    std::function<void(TestDir&)> before = nullptr;
    const char* absent = nullptr;  // a file the command must not leave
    bool noHome = false;
  };
  const std::string ann =
      " for the first time: 0 added, 0 changed, 0 deleted in velmora, "
      "1 added, 0 changed, 0 deleted in the folder";
  const std::string usage =
      "usage: velmora --sync DIR [NAME] [--prefer here|there] [--reset] "
      "[--dry-run] [--allow-empty]; or --sync --account with the same options";
  const std::string sample =
      "velmora: You cannot edit this file. - Open or create a different file.";
  auto synced = [](TestDir& d) {
    CommandIo io{[](std::string_view) {}, [](const std::string&) {}, nullptr};
    RunSyncCommand({"--sync", d / "v", "friends"}, d.path(), std::nullopt, Env::Posix(), io);
  };
  auto card = [](const std::string& name, const std::string& bytes) {
    return [=](TestDir& d) {
      std::filesystem::create_directories(d / "v");
      d.Write("v/" + name, bytes);
    };
  };
  const Row rows[] = {
      {{"$V", "friends"}, 0, {"velmora: FRIENDS.VLM synced with $V" + ann}},
      {{"$V", "friends", "--dry-run"},
       0,
       {"velmora: FRIENDS.VLM would be synced with $V" + ann + "; a dry run: nothing was written"}},
      // The sample file, named or opened at start, as on a fresh install.
      {{"$V", "brink"}, 1, {sample}},
      {{"$V"}, 1, {sample, "velmora: name the data file to sync; --sync DIR NAME makes NAME*"}},
      // A missing NAME is made as by the import, but not on a dry run nor
      // for a sync that is refused.
      {{"$V", "zoe"},
       0,
       {"velmora: zoe.VLM synced with $V for the first time: 1 added, *"},
       card("cy.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Cy\r\nEND:VCARD\r\n")},
      // ... and without a state an earlier zoe.VLM left behind.
      {{"$V", "zoe"},
       0,
       {"velmora: zoe.VLM synced with $V for the first time: 1 added, *"},
       [](TestDir& d) {
         std::filesystem::create_directories(d / "v");
         d.Write("v/cy.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Cy\r\nEND:VCARD\r\n");
         CommandIo io{[](std::string_view) {}, [](const std::string&) {}, nullptr};
         RunSyncCommand({"--sync", d / "v", "zoe"}, d.path(), std::nullopt, Env::Posix(), io);
         std::filesystem::remove(d / "zoe.VLM");
       }},
      {{"$V", "zoe", "--dry-run"},
       0,
       {"velmora: there is no data file zoe.VLM yet: *"},
       nullptr,
       "zoe.VLM"},
      {{"$V", "zoe smith"}, 1, {"velmora: zoe smith: no such data file, and a new one is named*"}},
      {{"$V", "zoe"}, 1, {"velmora: $V/ is synced with *"}, synced, "zoe.VLM"},
      {{"$H/w", "friends"},
       1,
       {"velmora: $DFRIENDS.VLM is synced with $V/; --reset pairs*"},
       synced},
      // The home folder, as systemd leaves a VELMORA_SYNC_DIR=~/... to it.
      {{"~/cards", "friends"}, 0, {"velmora: FRIENDS.VLM synced with $H/cards" + ann}},
      {{"~/cards"},
       1,
       {"velmora: ~/cards: ~ stands for the home folder, but HOME names none"},
       nullptr,
       nullptr,
       true},
      {{"~ann/cards"}, 1, {"velmora: ~ann/cards: only ~ and ~/... stand for the home folder*"}},
      // Names that could fake a line are quoted; plain ones are not.
      {{"$V\nvelmora: all is well", "friends"},
       0,
       {"velmora: FRIENDS.VLM synced with \"$V\\nvelmora: all is well\"" + ann}},
      {{"$V", "friends"},
       0,
       {"velmora: \"$V/x\\r.vcf\": *",
        "velmora: FRIENDS.VLM synced with $V" + ann + "; 1 card could not be read and was skipped"},
       card("x\r.vcf", "junk\n")},
      // Each option once, and --prefer with a side.
      {{"$V", "friends", "--prefer", "both"}, 2, {usage}},
      {{"$V", "--prefer", "here", "friends", "--prefer", "here"}, 2, {usage}},
      {{"$V", "--reset", "--allow-empty", "--reset"}, 2, {usage}},
      {{"--dry-run", "$V", "--dry-run"}, 2, {usage}},
      {{"$V", "friends", "more"}, 2, {usage}},
      {{"--account"},
       1,
       {"velmora: no CardDAV account is set up; add one in the window: SYNC, ACCOUNT..."}},
      {{"--account", "friends"}, 2, {usage}},
  };
  for (const Row& row : rows) {
    TestDir dir;
    dir.Write("FRIENDS.VLM", FileOf({Rec("Ann", "Smith")}));
    if (row.before) row.before(dir);
    auto fill = [&](std::string text) {
      for (auto [key, value] :
           {std::pair{"$V", dir / "v"}, std::pair{"$H", dir / "home"}, std::pair{"$D", dir.path()}})
        for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 2, value);
      return text;
    };
    std::vector<std::string> args = {"--sync"}, lines;
    for (const std::string& a : row.args) args.push_back(fill(a));
    CommandIo io{[](std::string_view) {}, [&](const std::string& l) { lines.push_back(l); }, {}};
    const auto home = row.noHome ? std::nullopt : std::optional(dir / "home");
    const std::string where = ::testing::PrintToString(args) + ::testing::PrintToString(lines);
    EXPECT_EQ(RunSyncCommand(args, dir.path(), home, Env::Posix(), io), row.status) << where;
    ASSERT_EQ(lines.size(), row.lines.size()) << where;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string expected = fill(row.lines[i]);
      EXPECT_EQ(expected.ends_with('*') ? lines[i].substr(0, expected.size() - 1) + "*" : lines[i],
                expected);
    }
    EXPECT_TRUE(!row.absent || !dir.Exists(row.absent)) << where;
  }
}

}  // namespace
}  // namespace velmora::testing
