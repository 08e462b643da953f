// Names in the alphabet of the code page velmora.ini names: stored as that
// page's bytes, shown, printed, exported as UTF-8 and imported back equal.
#include <QTextEdit>

#include "exchange/csv.h"
#include "exchange/exchange.h"
#include "exchange/exchange_support.h"
#include "exchange/vcard.h"
#include "platform/codepage.h"
#include "support/printer.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::RecordingPrinter;
using testing::RecordsOf;

struct Alphabet {
  int page;
  const char* name;     // UTF-8
  const char* surname;  // UTF-8
  const char* bytes;    // NAME, a blank, SURNAME in the page, as iconv spells them
};

const Alphabet kAlphabets[] = {
    {1250, "Łukasz", "Żółw", "\xa3ukasz \xaf\xf3\xb3w"},
    {1251, "Борис", "Щукин", "\xc1\xee\xf0\xe8\xf1 \xd9\xf3\xea\xe8\xed"},
    {1253, "Νίκος", "Ζαχαρίου", "\xcd\xdf\xea\xef\xf2 \xc6\xe1\xf7\xe1\xf1\xdf\xef\xf5"},
    {1254, "Şükrü", "Öztürk", "\xde\xfckr\xfc \xd6zt\xfcrk"},
};

class CodePageWindows : public testing::WindowsTest {
 protected:
  ~CodePageWindows() override { SetTextCodePage(CodePage::Windows1252()); }
};

TEST_F(CodePageWindows, AnUnusableCodePageIsToldAtStart) {
  iniExtra = "[text]\r\ncodepage=65001\r\n";
  Start({});
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Warning);
  EXPECT_TRUE(dialogs.shown[0].text.startsWith("velmora.ini names the code page \"65001\""));
  EXPECT_EQ(form1->windowTitle(), "FRIENDS");
}

class CodePageTest : public CodePageWindows, public ::testing::WithParamInterface<Alphabet> {
 protected:
  static QString U(const char* utf8) { return QString::fromUtf8(utf8); }

  std::string Exported(ExchangeFormat format) {
    std::string out;
    ExportEntries(s, format, [&](std::string_view b) { out.append(b); });
    return out;
  }
  // The entries of `text` imported into a new data file; its records.
  std::vector<ContactRecord> ImportedInto(const std::string& name, EntryReader& reader) {
    const std::string working = s.WorkingName;
    s.WorkingName = name;
    ImportEntries(s, reader, true);
    s.WorkingName = working;
    return RecordsOf(dir.Read(name + ".VLM"));
  }
};

TEST_P(CodePageTest, ANameInItsAlphabetIsStoredShownPrintedAndExchangedWhole) {
  const Alphabet& a = GetParam();
  iniExtra = "[text]\r\ncodepage=" + std::to_string(a.page) + "\r\n";
  Start({});
  RecordingPrinter printer;

  Menu("NEW RECORD");
  Type(kName, U(a.name));
  Type(kSurname, U(a.surname));
  Click(DoneButton());
  const std::vector<ContactRecord> stored = RecordsOf(Working());
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(std::string(stored[0].Text(ContactRecord::kName)) + " " +
                std::string(stored[0].Text(ContactRecord::kSurname)),
            a.bytes);

  // Found by its first letters, shown and printed as typed.
  Search(U(a.surname).left(2));
  EXPECT_EQ(Cell(1, 0), U(a.name));
  EXPECT_EQ(Cell(1, 1), U(a.surname));
  Click(PrintButton());
  EXPECT_EQ(printer.Line(190), (std::vector<QString>{U(a.name), U(a.surname), "", "", ""}));

  // Its extra text, under a file name in UTF-8, read back in the viewer.
  OpenEditor(1);
  Editor()->setPlainText(U(a.surname));
  Answer(MsgResult::Yes, SaveTextButton());
  Click(CancelEditButton());
  DoubleClickRow(1);
  EXPECT_EQ(Viewer()->toPlainText(), U(a.surname));
  EXPECT_NE(dir.Read(std::string(a.name) + a.surname).find("\\ansicpg" + std::to_string(a.page)),
            std::string::npos);

  // UTF-8 out, the same bytes back in.
  const std::string vcard = Exported(ExchangeFormat::kVcard);
  const std::string csv = Exported(ExchangeFormat::kCsv);
  EXPECT_NE(vcard.find(std::string("N:") + a.surname + ";" + a.name), std::string::npos) << vcard;
  EXPECT_NE(csv.find(std::string(a.name) + "," + a.surname), std::string::npos) << csv;
  VcardReader fromVcard(testing::StringSource(vcard));
  CsvReader fromCsv(testing::StringSource(csv));
  const std::pair<const char*, EntryReader*> kReaders[] = {{"FROMVCF", &fromVcard},
                                                           {"FROMCSV", &fromCsv}};
  for (auto [name, reader] : kReaders) {
    const std::vector<ContactRecord> back = ImportedInto(name, *reader);
    ASSERT_EQ(back.size(), 1u) << name;
    EXPECT_EQ(back[0].bytes, stored[0].bytes) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Alphabets, CodePageTest, ::testing::ValuesIn(kAlphabets),
                         [](const auto& info) { return std::to_string(info.param.page); });

}  // namespace
}  // namespace velmora
