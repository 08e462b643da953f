// Import into and export from data files: the hand-made cards of other
// address books into a new file, all or nothing, and the export with the
// extra texts of the entries.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "exchange/csv.h"
#include "exchange/exchange.h"
#include "exchange/exchange_support.h"
#include "exchange/vcard.h"
#include "store/store_fixture.h"
#include "support/records.h"

namespace velmora::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Exchange : public StoreTest {
 protected:
  std::vector<RecordTexts> WorkingTexts() const {
    std::vector<RecordTexts> out;
    for (const ContactRecord& r : RecordsOf(Working())) out.push_back(r.Texts());
    return out;
  }

  ImportSummary ImportVcards(const std::string& bytes, bool createMissing = false) {
    VcardReader reader(StringSource(bytes, 4096));
    return ImportEntries(s, reader, createMissing);
  }

  std::string Export(ExchangeFormat format, ExportSummary* summary = nullptr) {
    std::string out;
    ExportSummary sum = ExportEntries(s, format, [&](std::string_view b) { out.append(b); });
    if (summary) *summary = sum;
    return out;
  }
};

TEST_F(Exchange, CardsOfOtherAddressBooksMakeANewFile) {
  struct Step {
    const char* file;
    uint64_t added, cut, replaced;
  };
  const Step steps[] = {{"v21.vcf", 2, 1, 0}, {"v30.vcf", 3, 1, 16}, {"v40.vcf", 2, 2, 1}};
  for (const Step& st : steps) {
    SCOPED_TRACE(st.file);
    ImportSummary sum = ImportVcards(TestData(std::string("vcard/") + st.file), true);
    EXPECT_EQ(sum.added, st.added);
    EXPECT_EQ(sum.counts.fieldsCut, st.cut);
    EXPECT_EQ(sum.counts.charsReplaced, st.replaced);
  }
  EXPECT_EQ(
      WorkingTexts(),
      (std::vector<RecordTexts>{
          Texts("???????", "?????????", "+30 210 1234567"),
          Texts("René", "Château", "05 56 00 00 00"),
          Texts("Zoë", "Dupont", "+33-6-12-34-56-78", "+33-1-23-45-67-89;ex",
                "Réunion à 14h — salle Œuf ? , apportez le café (me"),
          Texts("María José", "González", "91 555 01 23", "", "Français ; avec point-virgule"),
          Texts("Jürgen", "Müller", "+49 170 1234567", "030 123456",
                "Zimmer 12, 2. Stock – bitte klingeln; Schlüssel be"),
          Texts("Siobhán", "O'Brien-Fitzgerald", "+353 87 123 4567", "01 234, ext 5",
                "Met at the conference in Galway, 2019. Likes tea; "),
          Texts("Ana Lucía de la", "Vega"),
      }));
}

TEST_F(Exchange, AnImportIsAllOrNothing) {
  const std::vector<ContactRecord> start = {Rec("Bo", "Ek"), Rec("Cy", "Lee")};
  const std::string good = "BEGIN:VCARD\r\nN:Ann;A\r\nEND:VCARD\r\n";
  struct Case {
    const char* what;
    std::string input;
    bool fileThere;
  };
  const Case cases[] = {
      {"a bad last card", good + good + "BEGIN:VCARD\r\nN:x\r\nno property\r\n", true},
      {"a bad card in a new file", good + "END:VCARD\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove((dir / "FRIENDS.VLM").c_str());
    if (c.fileThere) WriteWorking(start);
    EXPECT_THROW(ImportVcards(c.input, true), FormatError);
    EXPECT_EQ(dir.Exists("FRIENDS.VLM"), c.fileThere);
    if (c.fileThere) {
      EXPECT_EQ(Working(), FileOf(start));
    }
    EXPECT_FALSE(dir.Exists("temp.tmp"));
    EXPECT_EQ(env.openFiles(), 0);
  }

  // Added ones go to their sorted places, after the entries of equal key.
  WriteWorking(start);
  CsvReader csv(StringSource("Last Name,First Name\nlee,Cy\nAnn,A\n"));
  EXPECT_EQ(ImportEntries(s, csv).added, 2u);
  EXPECT_EQ(WorkingTexts(), (std::vector<RecordTexts>{Texts("A", "Ann"), Texts("Bo", "Ek"),
                                                      Texts("Cy", "Lee"), Texts("Cy", "lee")}));
}

TEST_F(Exchange, ExportWritesEveryEntryWithItsExtraText) {
  WriteWorking({Rec("Ann", "Lee", "1", "", "likes tea"), Rec("Bo", "Ek"), Rec("FRIENDS", ".VLM"),
                Rec("Cy", "Ma", "", "", "x")});
  dir.Write("AnnLee", "{\\rtf1\\ansi {\\b Bold} text\\par caf\\'e9\\line end\\par}");
  dir.Write("boek", "plain\r\ntext");             // another letter case, not RTF
  dir.Write("CyMa", std::string(17 << 20, 'x'));  // too big to be a note

  ExportSummary sum;
  const std::string vcf = Export(ExchangeFormat::kVcard, &sum);
  EXPECT_EQ(sum.entries, 4u);
  EXPECT_EQ(sum.extraTexts, 2u);
  EXPECT_EQ(sum.extraTextsFailed, 1u);
  EXPECT_THAT(
      vcf, HasSubstr("N:Lee;Ann;;;\r\nTEL:1\r\nNOTE:likes tea\r\nNOTE:Bold text\\ncafé\\nend\r\n"));
  // The comments stay the first NOTE, also when there are none.
  EXPECT_THAT(vcf, HasSubstr("N:Ek;Bo;;;\r\nNOTE:\r\nNOTE:plain\\ntext\r\nEND:VCARD"));
  // An entry whose name spells a data file never exports that file.
  EXPECT_THAT(vcf, HasSubstr("N:.VLM;FRIENDS;;;\r\nEND:VCARD"));
  EXPECT_THAT(vcf, HasSubstr("N:Ma;Cy;;;\r\nNOTE:x\r\nEND:VCARD"));

  EXPECT_EQ(Export(ExchangeFormat::kCsv),
            "name,surname,phone1,phone2,comments\r\nAnn,Lee,1,,likes tea\r\nBo,Ek,,,\r\n"
            "FRIENDS,.VLM,,,\r\nCy,Ma,,,x\r\n");
}

// An export of several blocks: they arrive whole and in order, and a failed
// write ends the export with its error, with nothing written after it.
TEST_F(Exchange, ExportOfManyBlocksKeepsItsOrderAndStopsAtAFailedWrite) {
  std::vector<ContactRecord> records;
  for (int i = 0; i < 40000; ++i)
    records.push_back(Rec("N" + std::to_string(i), "S", "5550100", "", std::string(40, 'c')));
  WriteWorking(records);
  for (ExchangeFormat format : {ExchangeFormat::kVcard, ExchangeFormat::kCsv}) {
    std::string expected;
    if (format == ExchangeFormat::kCsv) AppendCsvHeader(expected);
    for (const ContactRecord& r : records) {
      if (format == ExchangeFormat::kCsv)
        AppendCsvRow(expected, r.Texts());
      else
        AppendVcard(expected, r.Texts(), std::nullopt);
    }
    const std::string all = Export(format);
    EXPECT_TRUE(all == expected) << int(format);

    int writes = 0;
    std::string written;
    EXPECT_THROW(ExportEntries(s, format,
                               [&](std::string_view b) {
                                 if (++writes == 2) throw IoError(IoError::kDiskFull);
                                 written.append(b);
                               }),
                 IoError);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(all.substr(0, written.size()), written);
  }
}

}  // namespace
}  // namespace velmora::testing
