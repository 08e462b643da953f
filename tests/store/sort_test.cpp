#include "store/sort.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/ioerror.h"
#include "store/store_fixture.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;
using testing::Bytes;
using testing::FileOf;
using testing::Rec;
using testing::Surnames;

// The order the program has always given: passes of adjacent exchanges over
// the whole file, exchanging only when the left key is greater.
std::string ExchangeSorted(std::string content) {
  const size_t n = content.size() / ContactRecord::kSize;
  auto key = [&](size_t i) {
    return ContactRecord::FromBytes(
               reinterpret_cast<const unsigned char*>(content.data() + i * ContactRecord::kSize))
        .SortKey();
  };
  for (bool exchanged = n > 1; exchanged;) {
    exchanged = false;
    for (size_t i = 0; i + 1 < n; ++i) {
      if (key(i) > key(i + 1)) {
        std::swap_ranges(content.begin() + i * 135, content.begin() + (i + 1) * 135,
                         content.begin() + (i + 1) * 135);
        exchanged = true;
      }
    }
  }
  return content;
}

class Sort : public testing::StoreTest {};

TEST_F(Sort, OrdersBySurnameThenNameAsTheExchangeSortDoes) {
  WriteWorking({Rec("A", "ABC"), Rec("Z", "AB"), Rec("x", "smith", "1"), Rec("X", "SMITH", "2"),
                Rec("A", "9LIVES"), Rec("A", " BLANK"), Rec("A", "\xc9MILE"), Rec("A", "ZED"),
                Rec("A", "abc")});
  std::string before = Working();
  SortDataFile(s);
  std::string after = Working();
  EXPECT_EQ(after, ExchangeSorted(before));
  EXPECT_THAT(Surnames(after),
              ElementsAre(" BLANK", "9LIVES", "ABC", "abc", "AB", "smith", "SMITH", "ZED", "\xc9MILE"));
  // Equal keys keep their order: the record with PHONE1 "1" stays first.
  EXPECT_EQ(testing::RecordsOf(after)[5].Text(ContactRecord::kPhone1), "1");
}

TEST_F(Sort, SmallAndOrderedFilesAreNotRewritten) {
  for (const std::string& content :
       {std::string(), Bytes(Rec("B", "B")), FileOf({Rec("A", "A"), Rec("A", "A"), Rec("B", "B")})}) {
    WriteWorking(content);
    env.FailAt(-1, 0);
    SortDataFile(s);
    EXPECT_EQ(Working(), content);
    EXPECT_THAT(env.log(), ::testing::Not(::testing::Contains("create")));
    EXPECT_EQ(env.log().front(), "open");
    EXPECT_EQ(env.log().back(), "close");
  }
}

TEST_F(Sort, KeepsAnIncompleteTailAtTheEnd) {
  std::string tail = "partial record";
  WriteWorking(FileOf({Rec("B", "B"), Rec("A", "A")}) + tail);
  SortDataFile(s);
  EXPECT_EQ(Working(), FileOf({Rec("A", "A"), Rec("B", "B")}) + tail);
}

std::string RandomFile(std::mt19937& rng, size_t n, size_t unsortedTail) {
  // Few distinct keys, so equal keys (and equal keys in other letter case)
  // are common and their order is tested.
  const char* surnames[] = {"ab", "AB", "abc", "B", " b", "Lee", "LEE", "lee ", "Smith", "\xe9t\xe9"};
  std::uniform_int_distribution<int> pick(0, 9), phone(0, 99999);
  std::vector<ContactRecord> records;
  for (size_t i = 0; i < n; ++i)
    records.push_back(Rec(surnames[pick(rng)], surnames[pick(rng)], std::to_string(phone(rng))));
  if (unsortedTail < n) {
    std::stable_sort(records.begin(), records.end() - long(unsortedTail),
                     [](const ContactRecord& a, const ContactRecord& b) { return a.SortKey() < b.SortKey(); });
  }
  return FileOf(records);
}

TEST_F(Sort, EveryWayThroughGivesTheExchangeOrder) {
  std::mt19937 rng(7);
  struct Case {
    size_t n, unsortedTail;
    SortOptions options;
  };
  const Case cases[] = {
      {300, 1, {}},                           // a record appended to a sorted file
      {300, 5, {.windowRecords = 16}},        // a few appended, found from the end
      {300, 40, {.windowRecords = 16}},       // disorder before the window: sorted whole
      {300, 300, {}},                         // any order, in memory
      {1000, 1000, {.windowRecords = 8, .chunkRecords = 64, .mergeBufferBytes = 135 * 40}},
      {1000, 1000, {.windowRecords = 8, .chunkRecords = 7, .mergeBufferBytes = 1}},
      {997, 3, {.windowRecords = 2, .chunkRecords = 50}},
  };
  for (const Case& c : cases) {
    for (int round = 0; round < 3; ++round) {
      std::string content = RandomFile(rng, c.n, c.unsortedTail) + (round == 2 ? "tail" : "");
      WriteWorking(content);
      SortDataFile(s, c.options);
      ASSERT_EQ(Working(), ExchangeSorted(content))
          << "n=" << c.n << " unsorted=" << c.unsortedTail << " round=" << round;
      ASSERT_FALSE(dir.Exists("temp.tmp"));
      ASSERT_EQ(env.openFiles(), 0);
    }
  }
}

// A change against the two steps it replaces, run on the same file: the
// same bytes, or the same error with the file untouched; one rename at most,
// and no second scratch file when the file was in order.
class Change : public testing::StoreTest {
 protected:
  struct Outcome {
    std::string file;  // "<none>" when there is no file
    int error = 0;
  };

  template <class Op>
  Outcome Run(const std::string& content, bool missing, Op op) {
    if (missing)
      std::remove((dir / "FRIENDS.VLM").c_str());
    else
      WriteWorking(content);
    env.FailAt(-1, 0);
    Outcome o;
    try {
      op();
    } catch (const IoError& e) {
      o.error = e.code();
    }
    o.file = dir.Exists("FRIENDS.VLM") ? Working() : "<none>";
    return o;
  }

  size_t Steps(const std::string& kind) const {
    return size_t(std::count(env.log().begin(), env.log().end(), kind));
  }
};

TEST_F(Change, GivesTheBytesOfRewriteThenSort) {
  enum NewKey { kSameKey, kUnchanged, kEqualToAnother, kFirst, kLast, kAny };
  struct Case {
    const char* what;
    size_t n, unsortedTail;
    int copies;          // of the removed record; 0: it is not in the file
    bool removedAtEnd;   // one copy after the sorted records
    NewKey newKey;
    const char* tail;
    bool missing;
    SortOptions options;
  };
  const SortOptions small{.windowRecords = 4, .chunkRecords = 16, .mergeBufferBytes = 135 * 4};
  const Case cases[] = {
      {"phone changed", 200, 0, 1, false, kSameKey, "", false, {}},
      {"duplicates and look-alikes", 200, 0, 4, false, kSameKey, "", false, {}},
      {"nothing changed", 50, 0, 1, false, kUnchanged, "", false, {}},
      {"key of another entry", 200, 0, 1, false, kEqualToAnother, "", false, {}},
      {"new key first", 200, 0, 2, false, kFirst, "", false, {}},
      {"new key last", 200, 0, 1, false, kLast, "", false, {}},
      {"removed record not there", 100, 0, 0, false, kAny, "", false, {}},
      {"only the removed record out of place", 100, 0, 1, true, kAny, "", false, {}},
      {"every record removed", 0, 0, 3, false, kAny, "", false, {}},
      {"few appended", 200, 3, 1, false, kAny, "", false, {}},
      {"any order, in memory", 200, 200, 2, false, kAny, "", false, {}},
      {"any order, in runs", 300, 300, 3, false, kSameKey, "", false, small},
      {"a run's worth exactly", 15, 15, 1, false, kAny, "", false, small},
      {"incomplete tail", 100, 0, 1, false, kSameKey, "tail", false, {}},
      {"incomplete tail, any order", 100, 100, 1, false, kSameKey, "t", false, small},
      {"empty file", 0, 0, 0, false, kAny, "", false, {}},
      {"missing file", 0, 0, 0, false, kAny, "", true, {}},
  };
  const char* names[] = {"ab", "AB", "abc", "B", " b", "Lee", "LEE", "lee ", "Smith", "\xe9t\xe9"};
  std::mt19937 rng(11);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  auto anyRecord = [&] { return Rec(names[pick(10)], names[pick(10)], std::to_string(pick(100))); };
  auto byKey = [](const ContactRecord& a, const ContactRecord& b) { return a.SortKey() < b.SortKey(); };

  for (const Case& c : cases) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
      std::vector<ContactRecord> records;
      for (size_t i = 0; i < c.n; ++i) records.push_back(anyRecord());
      ContactRecord removed = Rec("NOBODY", "HERE");
      if (c.copies > 0) {
        removed = anyRecord();
        // The same record as far as identity goes: blanks at the front, the
        // boundary between NAME and SURNAME moved (a different key).
        std::string name(removed.Text(ContactRecord::kName)), surname(removed.Text(ContactRecord::kSurname));
        std::string phone(removed.Text(ContactRecord::kPhone1));
        const ContactRecord alike[] = {removed, Rec("  " + name, surname, phone),
                                       Rec(name + surname.substr(0, 1), surname.substr(1), phone)};
        for (int k = c.removedAtEnd ? 1 : 0; k < c.copies; ++k)
          records.insert(records.begin() + long(pick(records.size() + 1)), alike[k % 3]);
      }
      std::stable_sort(records.begin(), records.end() - long(std::min(c.unsortedTail, records.size())), byKey);
      if (c.removedAtEnd) records.push_back(removed);

      ContactRecord added = anyRecord();
      switch (c.newKey) {
        case kSameKey: added = removed; added.SetText(ContactRecord::kPhone1, "new"); break;
        case kUnchanged: added = removed; break;
        case kEqualToAnother: added = records[pick(records.size())]; added.SetText(ContactRecord::kPhone2, "2"); break;
        case kFirst: added = Rec(" ", " "); break;
        case kLast: added = Rec("\xff", "\xff"); break;
        case kAny: break;
      }
      s.RemovedRecord = removed;
      s.NewRecord = added;
      const std::string content = FileOf(records) + c.tail;

      const Outcome twoSteps = Run(content, c.missing, [&] {
        RewriteWithout(s, true);
        SortDataFile(s, c.options);
      });
      const Outcome onePass = Run(content, c.missing, [&] { ReplaceRecord(s, c.options); });
      ASSERT_EQ(onePass.error, twoSteps.error);
      ASSERT_TRUE(onePass.file == twoSteps.file) << onePass.file.size() << " bytes, expected " << twoSteps.file.size();
      if (onePass.error) {
        EXPECT_EQ(onePass.file, c.missing ? "<none>" : content);
        EXPECT_EQ(Steps("create"), 0u) << "a change bound to fail writes nothing";
      } else {
        EXPECT_EQ(Steps("rename"), 1u);
        if (c.unsortedTail == 0) {
          EXPECT_EQ(Steps("create"), 1u) << "more than one pass";
        }
      }
      ASSERT_EQ(dir.Names(), std::vector<std::string>(c.missing ? 0 : 1, "FRIENDS.VLM"));
      ASSERT_EQ(env.openFiles(), 0);
    }
  }
}

}  // namespace
}  // namespace velmora
