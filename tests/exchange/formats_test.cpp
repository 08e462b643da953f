// The vCard and CSV readers and writers on their own: what they take from
// the shapes real files come in, where they stop with an error, and that
// what they write reads back unchanged.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <regex>

#include "exchange/csv.h"
#include "exchange/exchange_support.h"
#include "exchange/fieldtext.h"
#include "exchange/vcard.h"

namespace velmora::testing {
namespace {

using ::testing::HasSubstr;

struct ReadCase {
  const char* what;
  std::string input;
  std::vector<ExchangeEntry> want;
};

struct ErrorCase {
  const char* what;
  std::string input;
  uint64_t line;
  const char* says;
};

std::vector<ExchangeEntry> ReadVcards(const std::string& input) {
  VcardReader reader(StringSource(input));
  return ReadAll(reader);
}

std::vector<ExchangeEntry> ReadCsv(const std::string& input) {
  CsvReader reader(StringSource(input));
  return ReadAll(reader);
}

template <class Read>
void ExpectError(const ErrorCase& c, Read read) {
  try {
    read(c.input);
    ADD_FAILURE() << c.what << ": read without an error";
  } catch (const FormatError& e) {
    EXPECT_EQ(e.line(), c.line) << c.what << ": " << e.what();
    EXPECT_THAT(e.what(), HasSubstr(c.says)) << c.what;
  }
}

// The rewriter takes every card the reader takes: each field of the first
// card rewritten alone reads back as written and every other as it was, and
// each line of the properties not rewritten stays, its line end included.
void ExpectEachFieldRewritten(const ReadCase& c) {
  static const std::regex property("^[A-Za-z0-9.-]+[;:]");
  static const char* const names[] = {"N|FN", "N|FN", "TEL", "TEL", "NOTE"};
  // Lines with their own line ends: after LF, or a CR that no CR or LF follows.
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < c.input.size(); ++i) {
    lines.back() += c.input[i];
    const char next = i + 1 < c.input.size() ? c.input[i + 1] : 0;
    if (c.input[i] == '\n' || (c.input[i] == '\r' && next != '\r' && next != '\n'))
      lines.emplace_back();
  }
  const ExchangeEntry was = ReadVcard(c.input);
  for (int f = ContactRecord::kName; f <= ContactRecord::kComments; ++f) {
    SCOPED_TRACE(std::string(c.what) + ", field " + std::to_string(f));
    if (f == ContactRecord::kPhone2 && was.phone1.empty()) continue;  // no place of its own
    ExchangeEntry want = was;
    std::string* field[] = {&want.name, &want.surname, &want.phone1, &want.phone2, &want.comments};
    // Long enough to fold, with what each version escapes.
    *field[f] =
        "N\u00ebw;, \\ " + std::string(f == ContactRecord::kComments ? 70 : 8, 'x') + "\u20ac";
    const std::string out = ReplaceVcardFields(c.input, want, FieldBit(f));
    std::vector<ExchangeEntry> all = c.want;
    all.front() = want;
    EXPECT_EQ(ReadVcards(out), all);

    const std::regex mine(std::string("^([A-Za-z0-9-]+[.])?(") + names[f] + ")[;:]",
                          std::regex::icase);
    bool kept = true;  // the line belongs to a property not rewritten
    for (size_t i = 0, at = 0; i < lines.size() && at != std::string::npos; ++i) {
      if (!lines[i].starts_with(' ') && std::regex_search(lines[i], property))
        kept = !std::regex_search(lines[i], mine);
      if (kept && (at = out.find(lines[i], at)) != std::string::npos) at += lines[i].size();
      EXPECT_NE(at, std::string::npos) << "lost: " << lines[i];
    }
  }
}

TEST(VcardReader, TakesWhatCardsOfEveryVersionHold) {
  const ReadCase cases[] = {
      {"3.0: folds, escapes, first NOTE only",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith\\, Jr.;Ann\\;Marie;;;\r\nFN:x\r\nTEL:1\\,2\r\n"
       "NOTE:a\\nb \\\\ c\r\n  d\r\nNOTE:second\r\nEND:VCARD\r\n",
       {{"Ann;Marie", "Smith, Jr.", "1,2", "", "a\nb \\ c d"}}},
      {"2.1: quoted-printable soft breaks, Latin-1, bare parameters, kept fold blank",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;QUOTED-PRINTABLE:M=FCller;J=\r\n"
       "=FCrgen\r\nTEL;CELL;PREF:0170\r\nNOTE:one\r\n two \\, \\; three\r\nEND:VCARD\r\n",
       {{"Jürgen", "Müller", "0170", "", "one two \\, ; three"}}},
      {"4.0: groups, tel URIs, quoted parameters, empty TEL passed over",
       "BEGIN:VCARD\nVERSION:4.0\nitem1.N;SORT-AS=\"a;b:c\":Doe;Jo;;;\nTEL:\n"
       "item2.TEL;VALUE=uri:tel:+1-555\nTEL;TYPE=\"a:b\":2\nTEL:3\nEND:VCARD\n",
       {{"Jo", "Doe", "+1-555", "2", ""}}},
      {"FN split at its last blank when N is missing or empty",
       "BEGIN:VCARD\nFN: Ana Lucía de la  Vega \nEND:VCARD\n"
       "BEGIN:VCARD\nN:;;;;\nFN:Cher\nEND:VCARD\n",
       {{"Ana Lucía de la", "Vega", "", "", ""}, {"Cher", "", "", "", ""}}},
      {"several cards without VERSION, blank lines between, CR line ends",
       "\r\nBEGIN:VCARD\rN:A;a\rEND:VCARD\r\r\nbegin:vcard\rn:B;b\rnote:\rNOTE:x\rend:vcard\r",
       {{"a", "A", "", "", ""}, {"b", "B", "", "", ""}}},
      {"a card inside a card is passed over",
       "BEGIN:VCARD\nVERSION:2.1\nN:Boss;Bo\nAGENT:\nBEGIN:VCARD\nN:Aide;Al\nTEL:9\nEND:VCARD\n"
       "TEL:1\nEND:VCARD\n",
       {{"Bo", "Boss", "1", "", ""}}},
      {"base64 and UTF-8 quoted-printable values; bytes that are not UTF-8",
       "BEGIN:VCARD\nN;ENCODING=b:V2XDn2Vy;Wm/Dqw==\nNOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:"
       "=E2=82=AC=3D\nTEL:caf\xe9\nEND:VCARD\n",
       {{"Zoë", "Weßer", "café", "", "€="}}},
  };
  for (const ReadCase& c : cases) {
    EXPECT_EQ(ReadVcards(c.input), c.want) << c.what;
    ExpectEachFieldRewritten(c);
  }
}

// What phones, mail programs and address books write that no standard
// allows but every reader is expected to take.
TEST(VcardReader, ReadsTheQuirksOfRealExporters) {
  const ReadCase cases[] = {
      {"a quoted-printable soft break going on on a folded line",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Ek;Bo\r\nNOTE;ENCODING=QUOTED-PRINTABLE:"
       "bring the =\r\n plans\r\nEND:VCARD\r\n",
       {{"Bo", "Ek", "", "", "bring the plans"}}},
      {"soft breaks over four lines, blanks after \"=\", lower-case hex",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Ek;Bo\r\n"
       "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=c3=a9t=\r\n=c3=a9 =  \r\n=C3=A0 =\t\r\n"
       " Paris\r\nEND:VCARD\r\n",
       {{"Bo", "Ek", "", "", "été à Paris"}}},
      {"parameters without TYPE=",
       "BEGIN:VCARD\nVERSION:2.1\nN:Ek;Bo\nTEL;CELL:070\nTEL;HOME;VOICE:08\nEND:VCARD\n",
       {{"Bo", "Ek", "070", "08", ""}}},
      {"character sets not known: UTF-8 where the bytes are, else Windows-1252",
       "BEGIN:VCARD\nN;CHARSET=X-MAC-ROMAN:Zo\xc3\xab;Al\nTEL;CHARSET=X-UNHEARD-OF:caf\xe9\n"
       "END:VCARD\n",
       {{"Al", "Zoë", "café", "", ""}}},
      {"a byte order mark, blank lines and LF-only line ends between cards",
       "\xEF\xBB\xBF\r\nBEGIN:VCARD\r\nN:A;a\r\nEND:VCARD\n\n  \n\t\n\nBEGIN:VCARD\r\nN:B;b\r\n"
       "END:VCARD\r\n\r\n",
       {{"a", "A", "", "", ""}, {"b", "B", "", "", ""}}},
      {"doubled line ends, also in a folded photo and a soft break",
       "BEGIN:VCARD\r\r\nVERSION:2.1\r\r\nN:Lind;Eva\r\r\nPHOTO;ENCODING=BASE64;JPEG:/9j/4AAQ\r\r\n"
       " SkZJRg==\r\r\n\r\r\nNOTE;ENCODING=QUOTED-PRINTABLE:one=\r\r\ntwo\r\r\nTEL;CELL:070\r\r\n"
       "END:VCARD\r\r\n",
       {{"Eva", "Lind", "070", "", "onetwo"}}},
      {"cards without END:VCARD, before the next card and at the end",
       "BEGIN:VCARD\nN:A;a\nBEGIN:VCARD\nN:B;b\nNOTE;QUOTED-PRINTABLE:x=\n",
       {{"a", "A", "", "", ""}, {"b", "B", "", "", "x"}}},
      {"doubled line ends and a soft break going on on a folded line",
       "BEGIN:VCARD\r\r\nVERSION:2.1\r\r\nN:Ek;Bo\r\r\nNOTE;ENCODING=QUOTED-PRINTABLE:bring =\r\r\n"
       " folded here\r\r\nTEL:1\r\r\nEND:VCARD\r\r\n",
       {{"Bo", "Ek", "1", "", "bring folded here"}}},
      {"a fold going on after a blank line and an empty one",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ek;Bo\r\nNOTE:abc\r\n \r\n\r\n def\r\nTEL:1\r\nEND:VCARD\r\n",
       {{"Bo", "Ek", "1", "", "abcdef"}}},
  };
  for (const ReadCase& c : cases) {
    EXPECT_EQ(ReadVcards(c.input), c.want) << c.what;
    ExpectEachFieldRewritten(c);
  }
}

TEST(VcardReader, NamesTheLineOfMalformedInput) {
  const ErrorCase cases[] = {
      {"text before the first card", "\nhello\nBEGIN:VCARD\nEND:VCARD\n", 2,
       "expected BEGIN:VCARD"},
      {"END without BEGIN", "BEGIN:VCARD\nEND:VCARD\nEND:VCARD\n", 3, "expected BEGIN:VCARD"},
      {"a line that is not a property", "BEGIN:VCARD\nN:a;b\nno colon here\nEND:VCARD\n", 3,
       "not a vCard line"},
      {"a parameter quote never closed", "BEGIN:VCARD\nN;X=\"a:b;c\nEND:VCARD\n", 2,
       "not a vCard line"},
      {"a broken quoted-printable escape",
       "BEGIN:VCARD\nVERSION:2.1\nN;ENCODING=QUOTED-PRINTABLE:a=\n=G1;b\nEND:VCARD\n", 3,
       "two hex digits"},
      {"base64 that is not", "BEGIN:VCARD\nNOTE;ENCODING=b:@@@\nEND:VCARD\n", 2, "base64"},
  };
  for (const ErrorCase& c : cases) ExpectError(c, ReadVcards);
}

TEST(CsvReader, FindsItsColumnsInTheHeadersAddressBooksWrite) {
  const ReadCase cases[] = {
      {"its own header: quotes, commas, line breaks, blanks",
       "name,surname,phone1,phone2,comments\r\n"
       " Ann , \" Lee \",\"1,2\",,\"say \"\"hi\"\"\r\nnext line\"\r\n"
       "Bo,Ek\r\n",
       {{"Ann", " Lee ", "1,2", "", "say \"hi\"\r\nnext line"}, {"Bo", "Ek", "", "", ""}}},
      {"spreadsheet style: first/last name, the first two filled phones, notes",
       "First Name,Middle Name,Last Name,Business Phone,Home Phone,Mobile Phone,Notes\n"
       "Eva,M,Lind,,08 12,070 1,note\n",
       {{"Eva", "Lind", "08 12", "070 1", "note"}}},
      {"web address book style: given and family name win over name",
       "Name,Given Name,Family Name,Notes,Phone 1 - Type,Phone 1 - Value\n"
       "Dr Kim Park,Kim,Park,n,Mobile,+82 10\n",
       {{"Kim", "Park", "+82 10", "", "n"}}},
      {"mail client style: display name unused when first and last are there",
       "First Name,Last Name,Display Name,Work Phone,Home Phone,Mobile Number,Notes\n"
       "Li,Wei,Li Wei,1,,3,\n",
       {{"Li", "Wei", "1", "3", ""}}},
      {"a lone name column is a whole name",
       "NAME,E-mail,PHONE\nMary Ann Smith,m@x,5\nPrince,,\n",
       {{"Mary Ann", "Smith", "5", "", ""}, {"Prince", "", "", "", ""}}},
      {"byte order mark, Windows-1252 bytes, short rows, blank lines",
       "\xEF\xBB\xBFsurname,name\n\nM\xfcller;x,J\xfcrgen\r\n\r\nSolo\n",
       {{"Jürgen", "Müller;x", "", "", ""}, {"", "Solo", "", "", ""}}},
  };
  for (const ReadCase& c : cases) EXPECT_EQ(ReadCsv(c.input), c.want) << c.what;
}

TEST(CsvReader, NamesTheLineOfMalformedInput) {
  const ErrorCase cases[] = {
      {"a quote never closed", "name\nok\n\"open\nstill open\n", 3, "never closed"},
      {"text after a closing quote", "name,surname\n\"a\"b,c\n", 2, "after the closing quote"},
      {"more fields than the header", "name,surname\na,b\na,b,c\n", 3,
       "more fields than the 2 columns"},
      {"a header too wide", "name" + std::string(kMaxCsvColumns, ',') + "\n", 1,
       "more than 4096 columns"},
      {"no column known", "email,street\nx,y\n", 1, "names none of the columns"},
      {"a row past the cap", "name\nok\n" + std::string(kMaxLineBytes + 1, 'x') + "\n", 3,
       "a row longer than 16 MiB"},
  };
  for (const ErrorCase& c : cases) ExpectError(c, ReadCsv);
}

// A row wider than the header is refused at its first field too many, not
// once it has been read whole: the reader takes in little of a row made of
// nothing but commas. Rows narrower than a wide header read as they stand.
TEST(CsvReader, TakesInLittleOfARowWiderThanItsHeader) {
  const std::string head = "name,surname\n";
  const size_t commas = 8u << 20;
  size_t sent = 0;
  CsvReader reader([&](char* buf, size_t n) {
    const size_t from = sent;
    for (; sent < head.size() + commas && sent - from < n; ++sent)
      buf[sent - from] = sent < head.size() ? head[sent] : ',';
    return sent - from;
  });
  ExchangeEntry e;
  EXPECT_THROW(reader.Next(e), FormatError);
  EXPECT_LT(sent, size_t(1) << 20);

  std::string wide = "name";
  for (size_t i = 2; i < kMaxCsvColumns; ++i) wide += ",x" + std::to_string(i);
  wide += ",surname\nAnn\nBo" + std::string(kMaxCsvColumns - 1, ',') + "Lee\n";
  const std::vector<ExchangeEntry> want = {{"Ann", "", "", "", ""}, {"Bo", "Lee", "", "", ""}};
  EXPECT_EQ(ReadCsv(wide), want);
}

TEST(VcardWriter, WritesCardsWithEscapes) {
  std::string out;
  AppendVcard(out, Texts("Ann ", "Lee", "", "0\\1", "a,b;c"), std::nullopt);
  AppendVcard(out, Texts("", "Ek;Co", "1", "", ""), std::string("line 1\nline 2"));
  EXPECT_EQ(out,
            "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann Lee\r\nN:Lee;Ann ;;;\r\nTEL:0\\\\1\r\n"
            "NOTE:a\\,b;c\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ek;Co\r\nN:Ek\\;Co;;;;\r\nTEL:1\r\nNOTE:\r\n"
            "NOTE:line 1\\nline 2\r\nEND:VCARD\r\n");
}

// Every text the store can hold that the formats can carry comes back as it
// was: any characters of the code page but control characters; a PHONE2
// without a PHONE1 has no place of its own in a card, so it is left out.
TEST(ExchangeFormats, WhatIsWrittenReadsBack) {
  std::mt19937 rng(12);
  const std::string alphabet = [] {
    std::string a = " ,;\\\"'=:";
    for (int c = 0x20; c < 0x100; ++c)
      if (c != 0x7F) a.push_back(char(c));
    return a;
  }();
  auto text = [&](size_t maxLen) {
    std::string t(std::uniform_int_distribution<size_t>(0, maxLen)(rng), ' ');
    for (char& c : t)
      c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    return t;
  };
  std::string longText;  // characters of one to three octets
  for (int i = 0; i < 150; ++i) longText += "a\xc3\xa9\xe2\x82\xac ";
  std::vector<RecordTexts> written;
  std::string vcf, csv;
  AppendCsvHeader(csv);
  for (int i = 0; i < 500; ++i) {
    RecordTexts t{text(20), text(20), text(20), text(20), text(50)};
    if (t.phone1.find_first_not_of(' ') == std::string::npos) t.phone1.clear();
    if (t.phone1.empty() || t.phone2.find_first_not_of(' ') == std::string::npos) t.phone2.clear();
    written.push_back(t);
    // Now and then an extra text, long enough to fold on many lines.
    AppendVcard(vcf, t, i % 100 ? std::nullopt : std::optional(longText));
    AppendCsvRow(csv, t);

    // The export's way, a record in a block with room after it, writes the
    // same bytes.
    ContactRecord r;
    r.SetTexts(t);
    char block[ContactRecord::kSize + kSlack], out[kMaxCardBytes];
    std::memcpy(block, r.bytes.data(), ContactRecord::kSize);
    TextsView view(RecordView(reinterpret_cast<const unsigned char*>(block)));
    view.slack = true;
    std::string one;
    AppendVcard(one, t, std::nullopt);
    ASSERT_EQ(std::string(out, PutVcard(out, view)), one);
    one.clear();
    AppendCsvRow(one, t);
    ASSERT_EQ(std::string(out, PutCsvRow(out, view)), one);
  }
  // Folded at 75 octets, and never inside a character.
  for (size_t at = 0, eol; (eol = vcf.find("\r\n", at)) != std::string::npos; at = eol + 2) {
    ASSERT_LE(eol - at, 75u);
    ASSERT_FALSE(vcf[at] == ' ' && (static_cast<unsigned char>(vcf[at + 1]) & 0xC0) == 0x80);
  }
  for (const std::string* file : {&vcf, &csv}) {
    std::unique_ptr<EntryReader> reader;
    if (file == &vcf)
      reader = std::make_unique<VcardReader>(StringSource(*file, 4096));
    else
      reader = std::make_unique<CsvReader>(StringSource(*file, 4096));
    ImportCounts counts;
    std::vector<RecordTexts> read;
    for (const ExchangeEntry& e : ReadAll(*reader)) read.push_back(ToRecordTexts(e, counts));
    EXPECT_EQ(read, written) << (file == &vcf ? "vCard" : "CSV");
    EXPECT_EQ(counts.fieldsCut + counts.charsReplaced, 0u);
  }
}

TEST(ExchangeFormats, TextsBecomeFieldsOfTheCodePage) {
  ImportCounts counts;
  ExchangeEntry e{"Ren\u00e9", "Cha\u0302teau", "+1\r\n2", "\u260e 5", std::string(60, 'x')};
  e.name = "Rene\xcc\x81";  // decomposed, as some systems store accents
  EXPECT_EQ(ToRecordTexts(e, counts),
            Texts("René", "Château", "+1 2", "? 5", std::string(50, 'x')));
  EXPECT_EQ(counts.fieldsCut, 1u);
  EXPECT_EQ(counts.charsReplaced, 1u);

  // Characters past the cut are neither kept nor counted.
  counts = {};
  ToRecordTexts({std::string(20, 'a') + "\u4e00", "", "", "", ""}, counts);
  EXPECT_EQ(counts.fieldsCut, 1u);
  EXPECT_EQ(counts.charsReplaced, 0u);
}

}  // namespace
}  // namespace velmora::testing
