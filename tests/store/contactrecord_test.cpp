#include "store/contactrecord.h"

#include <gtest/gtest.h>

#include "support/records.h"

namespace velmora {
namespace {

using testing::Bytes;
using testing::Rec;

TEST(ContactRecord, LaysOutFiveLengthPrefixedFieldsIn135Bytes) {
  std::string expected(135, '\0');
  auto put = [&](size_t at, const std::string& text) {
    expected[at] = char(text.size());
    expected.replace(at + 1, text.size(), text);
  };
  put(0, "JOHN");
  put(21, "SMITH");
  put(42, "(555)123");
  put(63, "");
  put(84, "Neighbour, sees to the cat");

  ContactRecord r = Rec("JOHN", "SMITH", "(555)123", "", "Neighbour, sees to the cat");
  EXPECT_EQ(Bytes(r), expected);
  EXPECT_EQ(r.Text(ContactRecord::kComments), "Neighbour, sees to the cat");

  ContactRecord back =
      ContactRecord::FromBytes(reinterpret_cast<const unsigned char*>(expected.data()));
  EXPECT_EQ(back.Texts(), r.Texts());
}

TEST(ContactRecord, CutsTextsToTheFieldAndKeepsOldFiller) {
  ContactRecord r;
  r.SetText(ContactRecord::kName, std::string(25, 'N'));
  r.SetText(ContactRecord::kComments, std::string(60, 'c'));
  EXPECT_EQ(r.Text(ContactRecord::kName), std::string(20, 'N'));
  EXPECT_EQ(r.Text(ContactRecord::kComments), std::string(50, 'c'));
  EXPECT_EQ(r.bytes[21], 0) << "the cut must not spill into SURNAME";

  // A shorter text later leaves the old characters behind its length.
  r.SetText(ContactRecord::kName, " Al");
  EXPECT_EQ(r.Text(ContactRecord::kName), " Al");
  EXPECT_EQ(r.bytes[0], 3);
  EXPECT_EQ(r.bytes[4], 'N');
}

TEST(ContactRecord, ReadsNoTextFromOutsideAFieldWhoseLengthByteIsTooLarge) {
  ContactRecord r = Rec("ANN", "LEE", "1", "2", "x");
  r.bytes[0] = 200;   // a foreign file's length byte
  r.bytes[84] = 255;  // COMMENTS is the last field: no byte beyond the record may be read
  EXPECT_EQ(r.Text(ContactRecord::kName).size(), 20u);
  EXPECT_EQ(r.Text(ContactRecord::kComments).size(), 50u);
  EXPECT_EQ(r.Text(ContactRecord::kSurname), "LEE");
  EXPECT_LE(r.IdentityText().size(), ContactRecord::kMaxIdentity);
}

TEST(ContactRecord, IdentityTextRunsTheTextsTogetherTrimmed) {
  // The scans' matcher must agree with the texts, both ways round.
  auto same = [](const ContactRecord& a, const ContactRecord& b) {
    const bool byText = a.IdentityText() == b.IdentityText();
    EXPECT_EQ(SameRecordAs(a)(b.bytes.data()), byText)
        << a.IdentityText() << " / " << b.IdentityText();
    EXPECT_EQ(SameRecordAs(b)(a.bytes.data()), byText)
        << b.IdentityText() << " / " << a.IdentityText();
    return byText;
  };
  EXPECT_EQ(Rec("JOHN", "SMITH", "1", "2", "x").IdentityText(), "JOHNSMITH12x");
  // Blanks at the very start and the very end do not count...
  EXPECT_TRUE(
      same(Rec("  JOHN", "SMITH", "1", "2", "note"), Rec("JOHN", "SMITH", "1", "2", "note \t")));
  // ...blanks inside do, and so does letter case.
  EXPECT_FALSE(same(Rec("JOHN ", "SMITH"), Rec("JOHN", "SMITH")));
  EXPECT_FALSE(same(Rec("John", "SMITH"), Rec("JOHN", "SMITH")));
  // Texts that run together to the same text are the same record.
  EXPECT_TRUE(same(Rec("JO", "HNSON", "555"), Rec("JOHN", "SON", "555")));
  EXPECT_TRUE(same(Rec("A", "B", "12", "34"), Rec("A", "B", "1", "234")));
  // One identity running on past the other is a different record.
  EXPECT_FALSE(same(Rec("AB", "C"), Rec("AB", "C", " D")));
  EXPECT_TRUE(same(Rec("AB", "C"), Rec("A", "BC ", " ", "\t")));
  // An empty record has an empty identity, as has one of blanks only.
  EXPECT_EQ(ContactRecord{}.IdentityText(), "");
  EXPECT_TRUE(same(ContactRecord{}, Rec(" ", "\t", "", "  ")));
  EXPECT_FALSE(same(ContactRecord{}, Rec(" ", "x")));
}

TEST(ContactRecord, SortKeyIsSurnameThenNameUpperCasedOnlyAToZ) {
  EXPECT_EQ(Rec("john", "Smith").SortKey(), "SMITHJOHN");
  EXPECT_EQ(Rec(" a ", " b").SortKey(), " B A ") << "not trimmed";
  EXPECT_EQ(Rec("\xe9mile", "m\xfcller").SortKey(), "M\xfcLLER\xe9MILE") << "accents stay";
  EXPECT_EQ(Rec("", "LEE").SortKey(), "LEE");

  // Keys compared in place order as the keys themselves do.
  const ContactRecord records[] = {Rec("A", "ABC"),     Rec("Z", "AB"),     Rec("x", "smith"),
                                   Rec("X", "SMITH"),   Rec("A", "9LIVES"), Rec("A", " BLANK"),
                                   Rec("", "\xc9MILE"), Rec("", ""),        Rec("BC", "A"),
                                   Rec("C", "AB"),      Rec("", "ABC")};
  for (const auto& a : records) {
    for (const auto& b : records) {
      const int byKeys = a.SortKey().compare(b.SortKey());
      const int inPlace = ContactRecord::CompareSortKeys(a.bytes.data(), b.bytes.data());
      EXPECT_EQ((inPlace > 0) - (inPlace < 0), (byKeys > 0) - (byKeys < 0))
          << a.SortKey() << " / " << b.SortKey();
    }
  }
}

}  // namespace
}  // namespace velmora
