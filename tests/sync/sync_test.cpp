// The sync engine on scratch folders: a data file FRIENDS.VLM and a vdir.

#include "sync/sync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <utility>

#include "store/extratext.h"
#include "support/fakeenv.h"
#include "support/session.h"
#include "sync/command.h"
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
  const char* planned = nullptr;  // the first line of a dry run's plan
  const char* skipped = nullptr;  // how a card named as skipped begins
  std::optional<Set> cards = {};  // what the cards show, when not what velmora holds
  int syncs = 1;                  // a card changed meanwhile settles in the second
};

void SetPhone(Set& d, const std::string& phone) { d[0].phone1 = phone; }
void CardPhone(SyncTest& t, const std::string& file, const std::string& phone);

// The five texts as one comparable string.
std::string Key(const RecordTexts& t) {
  return t.name + '\t' + t.surname + '\t' + t.phone1 + '\t' + t.phone2 + '\t' + t.comments;
}

// Field f of a RecordTexts or an ExchangeEntry, which name their texts alike.
template <class T>
std::string& Field(T& t, int f) {
  std::string* all[] = {&t.name, &t.surname, &t.phone1, &t.phone2, &t.comments};
  return *all[f];
}

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
    EXPECT_EQ(plan.at(0), step.planned) << step.what;
  }
  SyncSummary sum;
  std::string skipped;
  for (int i = 0; i < step.syncs; ++i)
    for (const std::string& line : (sum = Sync(o)).skipped) skipped += "\n" + line;
  if (step.syncs == 1) {
    EXPECT_EQ(plan.size(), Changes(sum)) << step.what;
  }
  EXPECT_EQ(Data(), Sorted(step.expected)) << step.what;
  EXPECT_EQ(CardTexts(), Sorted(step.cards.value_or(step.expected))) << step.what;
  EXPECT_EQ(sum.conflicts.size(), step.conflicts) << step.what;
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
             true,
             "there: change ann.vcf (Ann Smith): COMMENTS"},
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
        Step{"deleted here", [](Set& d) { d.clear(); }, nullptr, Prefer::kBoth, {}, 0, false},
        Step{"deleted there",
             nullptr,
             [](SyncTest& t, auto& f) { std::filesystem::remove(t.vdir + f); },
             Prefer::kBoth,
             {},
             0,
             false,
             "here: delete Ann Smith"},
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
             [](Set& d) { d.clear(); },
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

TEST_F(SyncTest, AMissingOrGarbledStateIsAFirstSyncNotADeletion) {
  for (const char* state : {"", "velmora sync state 1\ndir\t/x/\ncut sho"}) {
    WriteData({Texts("Bob", "Jones"), Texts("Cy", "Lee")});
    Sync();
    if (*state)
      dir.Write(".FRIENDS.VLM.sync", state);
    else
      std::filesystem::remove(SyncStatePath(s));
    EditData([](Set& d) { d.pop_back(); });
    const SyncSummary sum = Sync();
    EXPECT_TRUE(sum.firstSync) << state;
    EXPECT_EQ(sum.deletedThere + sum.deletedHere, 0u) << state;
    EXPECT_EQ(Data(), Sorted({Texts("Bob", "Jones"), Texts("Cy", "Lee")})) << state;
    EXPECT_EQ(CardTexts(), Data()) << state;
  }
}

// Random adds, edits and deletes on both sides, twins and cards with more
// than velmora shows among them, then a sync, round after round. The model
// says what each contact becomes (an edit beats a delete; one field changed
// on both sides keeps both versions; one contact added alike on both sides
// is one); both sides must show exactly that, every card keep its e-mail,
// and a second sync change nothing.
TEST_F(SyncTest, RandomChangesOnBothSidesSettleAndLoseNothing) {
  using Contact = std::pair<std::string, bool>;  // Key of its texts; its card has an EMAIL
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    std::filesystem::remove_all(vdir);
    std::filesystem::remove(SyncStatePath(s));
    WriteData({});
    std::mt19937 rng(seed);
    const auto roll = [&](int n) { return int(rng() % unsigned(n)); };
    int fresh = 0;
    const auto unique = [&] { return std::to_string(++fresh); };
    // As another tool writes: a new file renamed over the card.
    const auto putCard = [&](const std::string& file, const std::string& bytes) {
      WriteCard(".new", bytes);
      std::filesystem::rename(vdir + ".new", vdir + file);
    };
    const auto hasMail = [](const std::string& card) { return card.find("EMAIL") != card.npos; };
    std::vector<std::pair<RecordTexts, bool>> contacts;
    for (int round = 0; round < 5; ++round) {
      Set data = Data(), untouched, addedHere, addedThere;
      std::map<std::string, std::string> cards = Cards();
      std::map<std::string, int> twins;  // are changed on the card side only
      for (const auto& c : contacts) ++twins[Key(c.first)];
      std::vector<std::pair<RecordTexts, bool>> next;
      for (const auto& [texts, mail] : contacts) {
        auto record = std::find(data.begin(), data.end(), texts);
        auto card = std::find_if(cards.begin(), cards.end(), [&](const auto& c) {
          return Shown(c.second) == texts && hasMail(c.second) == mail;
        });
        ASSERT_TRUE(record != data.end() && card != cards.end());
        const int here = twins[Key(texts)] > 1 ? 0 : roll(5);  // 3 edits, 4 deletes
        const int there = roll(4);                             // 2 edits, 3 deletes
        const int f = 2 + roll(3), g = 2 + roll(3);
        RecordTexts mine = texts, theirs = texts;
        if (here == 3) Field(mine, f) = Field(*record, f) = "h" + unique();
        if (here == 4) data.erase(record);
        if (there == 2) {
          ExchangeEntry e = ReadVcard(card->second);
          Field(e, g) = Field(theirs, g) = "t" + unique();
          putCard(card->first, ReplaceVcardFields(card->second, e, FieldBit(g)));
        }
        if (there == 3) std::filesystem::remove(vdir + card->first);
        cards.erase(card);
        if (here < 3 && there < 2) untouched.push_back(texts);
        if (here == 4 || there == 3 || (here == 3 && there == 2 && f == g)) {
          if (there == 2) next.emplace_back(theirs, mail);
          if (here == 3) next.emplace_back(mine, false);
        } else {
          if (there == 2) Field(mine, g) = Field(theirs, g);
          next.emplace_back(mine, mail);
        }
      }
      for (int n = roll(3); n > 0; --n) {
        const std::string k = unique();
        RecordTexts t = roll(3) == 0 && !untouched.empty() ? untouched[roll(int(untouched.size()))]
                                                           : Texts("N" + k, "S" + k, "1" + k);
        if (roll(2)) {
          addedHere.push_back(t);
        } else {
          putCard("new" + k + ".vcf", RichCard(k, t.surname, t.name, t.phone1));
          addedThere.push_back(Shown(RichCard(k, t.surname, t.name, t.phone1)));
        }
      }
      for (const RecordTexts& t : addedHere) {
        data.push_back(t);
        const auto twin = std::find(addedThere.begin(), addedThere.end(), t);
        next.emplace_back(t, twin != addedThere.end());
        if (twin != addedThere.end()) addedThere.erase(twin);
      }
      for (const RecordTexts& t : addedThere) next.emplace_back(t, true);
      WriteData(Sorted(data));
      contacts = std::move(next);

      Sync();
      Set expected;
      std::vector<Contact> want, have;
      for (const auto& [texts, mail] : contacts) {
        expected.push_back(texts);
        want.emplace_back(Key(texts), mail);
      }
      for (const auto& [file, bytes] : Cards())
        have.emplace_back(Key(Shown(bytes)), hasMail(bytes));
      std::sort(want.begin(), want.end());
      std::sort(have.begin(), have.end());
      EXPECT_EQ(Data(), Sorted(expected)) << round;
      EXPECT_EQ(have, want) << round;
      EXPECT_EQ(Changes(Sync()), 0u) << round;
      if (::testing::Test::HasFailure()) return;
    }
  }
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
