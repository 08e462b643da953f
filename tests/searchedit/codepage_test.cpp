// Names in the alphabet of the code page velmora.ini names: stored as that
// page's bytes, found as typed in lower case and through the letter grid,
// shown, printed, exported as UTF-8 and imported back equal.
#include <QLocale>
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
  const char* locale;
  const char* name;     // UTF-8
  const char* surname;  // UTF-8
  const char* bytes;    // NAME, a blank, SURNAME in the page, as iconv spells them
  int gridRows;         // of the letter grid under the locale
};

const Alphabet kAlphabets[] = {
    {1250, "pl_PL", "Łukasz", "Żółw", "\xa3ukasz \xaf\xf3\xb3w", 3},
    {1251, "ru_RU", "Борис", "Щукин", "\xc1\xee\xf0\xe8\xf1 \xd9\xf3\xea\xe8\xed", 3},
    {1253, "el_GR", "Νίκος", "Παππάς", "\xcd\xdf\xea\xef\xf2 \xd0\xe1\xf0\xf0\xdc\xf2", 2},
    {1254, "tr_TR", "Şükrü", "Işık", "\xde\xfckr\xfc I\xfe\xfdk", 3},
    // Letters 1258 lacks whole go in as a letter and its tone mark.
    {1258, "vi_VN", "Đức Phạm", "Nguyễn", "\xd0\xfd\xec\x63 Pha\xf2m Nguy\xea\xde\x6e", 3},
    // UTF-8: every script, the grid A to Z.
    {65001, "zh_CN", "小明", "王", "小明 王", 2},
    {65001, "ru_RU", "Пётр", "Петров", "Пётр Петров", 2},
    // Double-byte pages: a second byte in a to z is no letter.
    {932, "ja_JP", "太郎", "山田", "\x91\xbe\x98Y \x8eR\x93" "c", 2},
    {936, "zh_CN", "小明", "王", "\xd0\xa1\xc3\xf7 \xcd\xf5", 2},
    {949, "ko_KR", "민준", "김", "\xb9\xce\xc1\xd8 \xb1\xe8", 2},
    {950, "zh_TW", "大文", "陳", "\xa4j\xa4\xe5 \xb3\xaf", 2},
};

class CodePageWindows : public testing::WindowsTest {
 protected:
  ~CodePageWindows() override {
    SetTextCodePage(CodePage::Windows1252());
    QLocale::setDefault(locale_);
  }
  const QLocale locale_;
};

TEST_F(CodePageWindows, AnUnusableCodePageIsToldAtStart) {
  iniExtra = "[text]\r\ncodepage=20932\r\n";
  Start({});
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Warning);
  EXPECT_TRUE(dialogs.shown[0].text.startsWith("velmora.ini names the code page \"20932\""));
  EXPECT_EQ(form1->windowTitle(), "FRIENDS");
}

// DONE asks before a character the page lacks becomes "?"; No goes back to
// the entry as typed, Yes stores it.
TEST_F(CodePageWindows, DoneAsksBeforeStoringAQuestionMark) {
  Start({});
  Menu("NEW RECORD");
  Type(kName, QString::fromUtf8("王"));
  Type(kSurname, QString::fromUtf8("小明é"));
  Answer(MsgResult::No, DoneButton());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].buttons, MsgButtons::YesNo);
  EXPECT_TRUE(dialogs.shown[0].text.startsWith("Code page 1252 cannot store"));
  EXPECT_TRUE(dialogs.shown[0].text.contains(QString::fromUtf8("\nNAME: 王\nSURNAME: 小 明\n")))
      << dialogs.shown[0].text.toStdString();
  EXPECT_TRUE(RecordsOf(Working()).empty());
  EXPECT_EQ(Field(kSurname)->text(), QString::fromUtf8("小明é"));

  Answer(MsgResult::Yes, DoneButton());
  const std::vector<ContactRecord> stored = RecordsOf(Working());
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].Text(ContactRecord::kSurname), "??\xe9");
}

// Two names that differ only where "?" stands for what the page lacked
// never share a note: such a name has none, and an old file of that name is
// left alone, neither shown nor exported.
TEST_F(CodePageWindows, ANoteNameWithAQuestionMarkIsRefused) {
  dir.Write("???", "{\\rtf1 someone else's}");
  Start({testing::Rec("?", "??"), testing::Rec("?", "??")});
  Search("?");
  DoubleClickRow(1);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_TRUE(dialogs.shown[0].text.startsWith("No extra text for ???: a \"?\" in its name"));
  EXPECT_FALSE(Viewer()->isVisible());
  OpenEditor(2);
  EXPECT_EQ(dialogs.shown.size(), 2u);
  EXPECT_FALSE(TextEditorGroup()->isVisible());
  std::string vcard;
  ExportEntries(s, ExchangeFormat::kVcard, [&](std::string_view b) { vcard.append(b); });
  EXPECT_EQ(vcard.find("else"), std::string::npos);
  EXPECT_EQ(dir.Read("???"), "{\\rtf1 someone else's}");
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
  QLocale::setDefault(QLocale(QString::fromLatin1(a.locale)));
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

  // Found by its first letters as people type them, in lower case.
  Search(QLocale().toLower(U(a.surname).left(2)));
  EXPECT_EQ(Cell(1, 1), U(a.surname));
  Click(BackButton());

  // The grid holds the alphabet, in whole rows; its first letter finds it.
  Menu("SEARCH/EDIT");
  const QStringList letters = LetterGrid::Letters();
  EXPECT_EQ(Letters()->rowCount(), a.gridRows) << letters.join(' ').toStdString();
  if (const qsizetype at = letters.indexOf(U(a.surname).left(1)); at >= 0) {
    QTest::mouseClick(
        Letters()->viewport(), Qt::LeftButton, {},
        Letters()->visualRect(Letters()->model()->index(int(at / 13), int(at % 13))).center());
    EXPECT_EQ(SearchField()->text(), U(a.surname).left(1));
  } else {
    EXPECT_TRUE(TextCodePage().IsMultiByte()) << letters.join(' ').toStdString();
    TypeInto(SearchField(), U(a.surname).left(1));
  }
  Click(StartSearchButton());

  // Shown and printed as typed.
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
  EXPECT_NE(dir.Read(CodePageToUtf8(ToCodePage(U(a.name) + U(a.surname))))
                .find("\\ansicpg" + std::to_string(a.page)),
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
                         [](const auto& info) {
                           return std::to_string(info.param.page) + "_" + info.param.locale;
                         });

}  // namespace
}  // namespace velmora
