#pragma once
// The model-based sync test, over any card store: random adds, edits and
// deletes on both sides, round after round, against a model of what each
// contact becomes. Run on a vdir by the sync tests and on a CardDAV
// address book by the slow ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sync/sync.h"
#include "sync_support.h"

namespace velmora::testing {

// A card as a phone would have it: more than velmora shows.
inline std::string RichCard(const std::string& uid, const std::string& family,
                            const std::string& given, const std::string& tel) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + given + " " + family +
         "\r\nN:" + family + ";" + given + ";;Dr.;\r\nitem1.TEL;TYPE=CELL:" + tel +
         "\r\nEMAIL;TYPE=HOME:x@example.org\r\nTEL;TYPE=WORK:555\r\nTEL:777\r\n"
         "PHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\nX-FOO;BAR=1:baz\r\nEND:VCARD\r\n";
}

// The five texts as one comparable string.
inline std::string Key(const RecordTexts& t) {
  return t.name + '\t' + t.surname + '\t' + t.phone1 + '\t' + t.phone2 + '\t' + t.comments;
}

// Field f of a RecordTexts or an ExchangeEntry, which name their texts alike.
template <class T>
std::string& Field(T& t, int f) {
  std::string* all[] = {&t.name, &t.surname, &t.phone1, &t.phone2, &t.comments};
  return *all[f];
}

// The other side of the sync, as another client changes it.
class CardSide {
 public:
  // holdsBackups: a file of several cards can be put there (a server takes
  // one card a name). listsChanges: a sync lists only what changed since
  // the last, so that a card it left unpaired (one that shows nothing) is
  // seen again only once it changes.
  CardSide(bool holdsBackups, bool listsChanges)
      : holdsBackups(holdsBackups), listsChanges(listsChanges) {}
  virtual ~CardSide() = default;
  // No card, and no state of the data file's.
  virtual void Clear() = 0;
  virtual void Put(const std::string& name, const std::string& bytes) = 0;
  virtual void Remove(const std::string& name) = 0;
  virtual std::map<std::string, std::string> Cards() = 0;
  virtual SyncSummary Sync(const SyncOptions& o) = 0;
  const bool holdsBackups, listsChanges;
};

// Random adds, edits and deletes on both sides, twins and cards with more
// than velmora shows among them, beside a card that shows nothing and a
// backup of several cards, then a sync, round after round, with FRIENDS.VLM
// of dir. The model says what each contact becomes (an edit beats a delete;
// one field changed on both sides keeps both versions; one contact added
// alike on both sides is one); both sides must show exactly that, every
// card keep its e-mail, the two others stay as they were, and a second sync
// change nothing.
inline void RandomChangesSettle(CardSide& side, const TestDir& dir, unsigned seeds) {
  using Contact = std::pair<std::string, bool>;  // Key of its texts; its card has an EMAIL
  for (unsigned seed = 1; seed <= seeds; ++seed) {
    SCOPED_TRACE(seed);
    side.Clear();
    dir.Write("FRIENDS.VLM", "");
    // Cards no sync may touch: one that shows nothing (in the order a
    // server that writes cards anew gives its properties), a backup of two.
    std::map<std::string, std::string> alone = {
        {"blank.vcf",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:blank\r\nEMAIL:b@example.org\r\nFN:\r\nEND:VCARD\r\n"}};
    if (side.holdsBackups)
      alone["backup.vcf"] = RichCard("a", "Smith", "Ann", "111") + RichCard("b", "Ek", "Bo", "2");
    for (const auto& [file, bytes] : alone) side.Put(file, bytes);
    std::mt19937 rng(seed);
    const auto roll = [&](int n) { return int(rng() % unsigned(n)); };
    int fresh = 0;
    const auto unique = [&] { return std::to_string(++fresh); };
    const auto hasMail = [](const std::string& card) { return card.find("EMAIL") != card.npos; };
    std::vector<std::pair<RecordTexts, bool>> contacts;
    for (int round = 0; round < 5; ++round) {
      Set data = EntriesOf(dir.Read("FRIENDS.VLM")), untouched, addedHere, addedThere;
      std::map<std::string, std::string> cards = side.Cards();
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
          side.Put(card->first, ReplaceVcardFields(card->second, e, FieldBit(g)));
        }
        if (there == 3) side.Remove(card->first);
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
          side.Put("new" + k + ".vcf", RichCard(k, t.surname, t.name, t.phone1));
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
      dir.Write("FRIENDS.VLM", DataFileOf(Sorted(data)));
      contacts = std::move(next);

      // A round may delete every contact on one side.
      SyncOptions o;
      o.allowEmpty = true;
      EXPECT_EQ(side.Sync(o).blankCards, round > 0 && side.listsChanges ? 0u : 1u) << round;
      Set expected;
      std::vector<Contact> want, have;
      for (const auto& [texts, mail] : contacts) {
        expected.push_back(texts);
        want.emplace_back(Key(texts), mail);
      }
      for (const auto& [file, bytes] : side.Cards())
        if (alone.count(file))
          EXPECT_EQ(bytes, alone.at(file)) << round;
        else
          have.emplace_back(Key(Shown(bytes)), hasMail(bytes));
      std::sort(want.begin(), want.end());
      std::sort(have.begin(), have.end());
      EXPECT_EQ(EntriesOf(dir.Read("FRIENDS.VLM")), Sorted(expected)) << round;
      EXPECT_EQ(have, want) << round;
      const SyncSummary again = side.Sync(o);
      EXPECT_EQ(again.addedHere + again.addedThere + again.changedHere + again.changedThere +
                    again.deletedHere + again.deletedThere,
                0u)
          << round;
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace velmora::testing
