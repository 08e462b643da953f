#include "store/sort.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/ioerror.h"
#include "store/store_fixture.h"

namespace velmora {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::FileOf;
using testing::Rec;
using testing::Surnames;

// The order velmora gives: passes of adjacent exchanges over
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
  EXPECT_THAT(Surnames(after), ElementsAre(" BLANK", "9LIVES", "ABC", "abc", "AB", "smith", "SMITH",
                                           "ZED", "\xc9MILE"));
  // Equal keys keep their order: the record with PHONE1 "1" stays first.
  EXPECT_EQ(testing::RecordsOf(after)[5].Text(ContactRecord::kPhone1), "1");
}

TEST_F(Sort, SmallAndOrderedFilesAreNotRewritten) {
  for (const std::string& content : {std::string(), Bytes(Rec("B", "B")),
                                     FileOf({Rec("A", "A"), Rec("A", "A"), Rec("B", "B")})}) {
    WriteWorking(content);
    env.FailAt(-1, 0);
    SortDataFile(s);
    EXPECT_EQ(Working(), content);
    EXPECT_THAT(env.log(), ::testing::Not(::testing::Contains("create")));
    EXPECT_EQ(env.log().front(), "lock");
    EXPECT_EQ(env.log()[1], "open");
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
  const char* surnames[] = {"ab",  "AB",  "abc",  "B",     " b",
                            "Lee", "LEE", "lee ", "Smith", "\xe9t\xe9"};
  std::uniform_int_distribution<int> pick(0, 9), phone(0, 99999);
  std::vector<ContactRecord> records;
  for (size_t i = 0; i < n; ++i)
    records.push_back(Rec(surnames[pick(rng)], surnames[pick(rng)], std::to_string(phone(rng))));
  if (unsortedTail < n) {
    std::stable_sort(
        records.begin(), records.end() - long(unsortedTail),
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
      {300, 1, {}},                      // a record appended to a sorted file
      {300, 5, {.windowRecords = 16}},   // a few appended, found from the end
      {300, 40, {.windowRecords = 16}},  // disorder before the window: sorted whole
      {300, 300, {}},                    // any order, in memory
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

// Many records added at once, as an import adds them, against appending
// them and sorting: the same bytes in one rename, whatever the order of the
// file, and nothing written when there is nothing to add.
TEST_F(Sort, ManyAdditionsGiveTheBytesOfAppendingThemAndSorting) {
  struct Case {
    const char* what;
    size_t n, unsortedTail, added;
    const char* tail;  // nullptr: no file at all
    SortOptions options;
  };
  const SortOptions small{.windowRecords = 4, .chunkRecords = 16, .mergeBufferBytes = 135 * 4};
  const Case cases[] = {
      {"into a sorted file", 200, 0, 50, "", {}},
      {"into a sorted file, in runs", 200, 0, 100, "", small},
      {"a run's worth exactly", 20, 0, 16, "", small},
      {"into a file out of order", 200, 200, 40, "", {}},
      {"into a file out of order, in runs", 200, 30, 100, "tail", small},
      {"incomplete tail", 50, 0, 5, "tail", {}},
      {"into an empty file", 0, 0, 30, "", small},
      {"into a new file", 0, 0, 30, nullptr, small},
      {"nothing to add", 50, 0, 0, "tail", {}},
      {"nothing to add to a new file", 0, 0, 0, nullptr, {}},
  };
  std::mt19937 rng(13);
  auto steps = [&](const char* kind) {
    return std::count(env.log().begin(), env.log().end(), kind);
  };
  for (const Case& c : cases) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
      std::remove((dir / "FRIENDS.VLM").c_str());
      const std::string records = RandomFile(rng, c.n, c.unsortedTail);
      const std::string added = RandomFile(rng, c.added, c.added);
      if (c.tail) WriteWorking(records + c.tail);
      env.FailAt(-1, 0);
      size_t next = 0;
      const uint64_t count = InsertRecords(
          s,
          [&](ContactRecord& r) {
            if (next == c.added) return false;
            r = ContactRecord::FromBytes(reinterpret_cast<const unsigned char*>(added.data()) +
                                         next++ * 135);
            return true;
          },
          c.options, c.tail == nullptr);
      EXPECT_EQ(count, c.added);
      if (c.added == 0) {
        EXPECT_EQ(dir.Exists("FRIENDS.VLM") ? Working() : "<none>",
                  c.tail ? records + c.tail : "<none>");
      } else {
        ASSERT_EQ(Working(), ExchangeSorted(records + added));
      }
      EXPECT_EQ(steps("rename"), c.added > 0 ? 1 : 0);
      EXPECT_FALSE(dir.Exists("temp.tmp"));
      EXPECT_EQ(env.openFiles(), 0);
    }
  }
  std::remove((dir / "FRIENDS.VLM").c_str());
  try {
    InsertRecords(s, [](ContactRecord&) { return true; });
    ADD_FAILURE() << "added to a file that does not exist";
  } catch (const IoError& e) {
    EXPECT_EQ(e.code(), IoError::kFileNotFound);
  }
}

// The records are all taken before the lock: a slow input (a pipe) holds
// up no other instance.
TEST_F(Sort, ManyAdditionsTakeTheLockOnlyToWrite) {
  WriteWorking({Rec("A", "A")});
  bool lockFree = false;
  InsertRecords(s, [&, n = 0](ContactRecord& r) mutable {
    if (n++ == 1) return false;
    try {
      lockFree = Env::Posix().LockDir(s.ProgramDir, 0) != nullptr;
    } catch (const IoError&) {
    }
    r = Rec("B", "B");
    return true;
  });
  EXPECT_TRUE(lockFree);
  EXPECT_EQ(Working(), FileOf({Rec("A", "A"), Rec("B", "B")}));
}

// A change against the two steps it replaces, on the same file: the same
// bytes, or the same error with the file untouched and nothing written; one
// rename, and one scratch file only when the file was in order. An addition
// likewise against append then sort.
TEST_F(Sort, ChangeAndAdditionInOnePassGiveTheBytesOfTheirTwoSteps) {
  enum NewKey { kSameKey, kUnchanged, kEqualToAnother, kFirst, kLast, kAny };
  struct Case {
    const char* what;
    size_t n, unsortedTail;
    int copies;         // of the removed record; 0: it is not in the file
    bool removedAtEnd;  // one copy after the sorted records
    NewKey newKey;
    const char* tail;  // nullptr: no file at all
    SortOptions options;
  };
  const SortOptions small{.windowRecords = 4, .chunkRecords = 16, .mergeBufferBytes = 135 * 4};
  const Case cases[] = {
      {"phone changed", 200, 0, 1, false, kSameKey, "", {}},
      {"duplicates and look-alikes", 200, 0, 4, false, kSameKey, "", {}},
      {"nothing changed", 50, 0, 1, false, kUnchanged, "", {}},
      {"key of another entry", 200, 0, 1, false, kEqualToAnother, "", {}},
      {"new key first", 200, 0, 2, false, kFirst, "", {}},
      {"new key last", 200, 0, 1, false, kLast, "", {}},
      {"removed record not there", 100, 0, 0, false, kAny, "", {}},
      {"removed record not there, any order", 100, 100, 0, false, kAny, "", small},
      {"only the removed record out of place", 100, 0, 1, true, kAny, "", {}},
      {"every record removed", 0, 0, 3, false, kAny, "", {}},
      {"few appended", 200, 3, 1, false, kAny, "", {}},
      {"any order, in memory", 200, 200, 2, false, kAny, "", {}},
      {"any order, in runs", 300, 300, 3, false, kSameKey, "", small},
      {"a run's worth exactly", 15, 15, 1, false, kAny, "", small},
      {"incomplete tail", 100, 0, 1, false, kSameKey, "tail", {}},
      {"incomplete tail, any order", 100, 100, 1, false, kSameKey, "t", small},
      {"empty file", 0, 0, 0, false, kAny, "", {}},
      {"missing file", 0, 0, 0, false, kAny, nullptr, {}},
  };
  const char* names[] = {"ab", "AB", "abc", "B", " b", "Lee", "LEE", "lee ", "Smith", "\xe9t\xe9"};
  std::mt19937 rng(11);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  auto anyRecord = [&] { return Rec(names[pick(10)], names[pick(10)], std::to_string(pick(100))); };
  auto byKey = [](const ContactRecord& a, const ContactRecord& b) {
    return a.SortKey() < b.SortKey();
  };
  auto steps = [&](const char* kind) {
    return std::count(env.log().begin(), env.log().end(), kind);
  };

  for (const Case& c : cases) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
      std::vector<ContactRecord> records;
      for (size_t i = 0; i < c.n; ++i) records.push_back(anyRecord());
      ContactRecord removed = c.copies > 0 ? anyRecord() : Rec("NOBODY", "HERE");
      // The same record as far as identity goes: blanks at the front, or the
      // boundary between NAME and SURNAME moved (a different key).
      std::string name(removed.Text(ContactRecord::kName)),
          surname(removed.Text(ContactRecord::kSurname));
      std::string phone(removed.Text(ContactRecord::kPhone1));
      const ContactRecord alike[] = {removed, Rec("  " + name, surname, phone),
                                     Rec(name + surname.substr(0, 1), surname.substr(1), phone)};
      for (int k = c.removedAtEnd ? 1 : 0; k < c.copies; ++k)
        records.insert(records.begin() + long(pick(records.size() + 1)), alike[k % 3]);
      std::stable_sort(records.begin(),
                       records.end() - long(std::min(c.unsortedTail, records.size())), byKey);
      if (c.removedAtEnd) records.push_back(removed);

      ContactRecord added = anyRecord();
      if (c.newKey == kSameKey || c.newKey == kUnchanged) added = removed;
      if (c.newKey == kSameKey) added.SetText(ContactRecord::kPhone1, "new");
      if (c.newKey == kEqualToAnother)
        added = records[pick(records.size())], added.SetText(ContactRecord::kPhone2, "2");
      if (c.newKey == kFirst) added = Rec(" ", " ");
      if (c.newKey == kLast) added = Rec("\xff", "\xff");
      s.RemovedRecord = removed;
      s.NewRecord = added;
      const std::string content = c.tail ? FileOf(records) + c.tail : "<none>";

      auto run = [&](auto op) {
        std::remove((dir / "FRIENDS.VLM").c_str());
        if (c.tail) WriteWorking(content);
        env.FailAt(-1, 0);
        int error = 0;
        try {
          op();
        } catch (const IoError& e) {
          error = e.code();
        }
        return std::pair(error, dir.Exists("FRIENDS.VLM") ? Working() : "<none>");
      };
      const auto twoSteps = run([&] {
        RewriteWithout(s, true);
        SortDataFile(s, c.options);
      });
      // Where the removed record is missing (changed meanwhile) the change
      // writes nothing, where the two steps would add the new one anyway.
      const bool found = c.copies > 0;
      bool replaced = false;
      const auto onePass = run([&] { replaced = ReplaceRecord(s, c.options); });
      ASSERT_EQ(onePass.first, twoSteps.first);
      ASSERT_TRUE(onePass.second == (found ? twoSteps.second : content))
          << onePass.second.size() << " bytes, not " << twoSteps.second.size();
      if (onePass.first) {
        EXPECT_TRUE(onePass.second == content);
        EXPECT_EQ(steps("create"), 0);
      } else {
        EXPECT_EQ(replaced, found);
        EXPECT_EQ(steps("rename"), found ? 1 : 0);
        EXPECT_TRUE(c.unsortedTail > 0 || steps("create") == 1) << "more than one pass";
      }
      ASSERT_EQ(dir.Names().size(), c.tail ? 1u : 0u) << "a scratch file left behind";
      ASSERT_EQ(env.openFiles(), 0);

      // An addition against the append and sort it replaces.
      const auto appendThenSort = run([&] {
        s.ScratchRecord = added;  // the same bytes after the texts
        AppendRecord(s, added.Texts());
        SortDataFile(s, c.options);
      });
      const auto inserted = run([&] { InsertRecord(s, c.options); });
      ASSERT_EQ(inserted.first, appendThenSort.first);
      ASSERT_TRUE(inserted.second == appendThenSort.second) << "an addition differs";
      ASSERT_EQ(steps("rename"), inserted.first ? 0 : 1);
      ASSERT_EQ(dir.Names().size(), c.tail ? 1u : 0u) << "a scratch file left behind";
    }
  }
}

}  // namespace
}  // namespace velmora
