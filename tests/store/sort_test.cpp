#include "store/sort.h"

#include <gmock/gmock.h>

#include <random>

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

}  // namespace
}  // namespace velmora
