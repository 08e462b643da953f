// Round trips through other programs that read and write vCard: the Debian
// packages python3-vobject and abook, which scripts/deps.sh installs. A test
// whose program is missing says SKIPPED and why.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <random>

#include "exchange/command.h"
#include "exchange/exchange_support.h"
#include "support/records.h"
#include "support/testdir.h"

namespace velmora::testing {
namespace {

using ::testing::HasSubstr;

// The exit status of a shell command; -1 when the command was killed by a
// signal (the shell tells it as 128 and the signal's number).
int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) <= 128 ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Debian's vobject lives beside Debian's python3, which need not be the
// first python3 on the PATH.
std::string Python() {
  return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

// velmora's command line on the data folder dir; its standard output.
std::string Velmora(const TestDir& dir, const std::vector<std::string>& args) {
  std::string out, err;
  CommandIo io{[&](std::string_view b) { out.append(b); },
               [&](const std::string& line) { err += line + "\n"; },
               [](char*, size_t) { return size_t(0); }};
  EXPECT_EQ(RunExchangeCommand(args, dir.path(), Env::Posix(), io), 0) << err;
  return out;
}

// Entries as people write them: accents, commas, quotes, semicolons,
// backslashes, and fields left empty, but never all five (an import skips
// such an entry).
std::vector<ContactRecord> Entries(size_t n) {
  const char* words[] = {"Zoë",
                         "O'Brien",
                         "Smith, Jr.",
                         "a;b",
                         "C:\\dir",
                         "\"Quoted\"",
                         "Ærø",
                         "façade",
                         "naïve",
                         "€uro",
                         "Müller",
                         "Ñandú",
                         "",
                         "Ann",
                         "Lee",
                         "œuvre",
                         "½ price",
                         "x=y:z",
                         "back\\slash;semi,comma"};
  const char* phones[] = {"", "+44 (0)20 7946 0958", "555-0100, ext 7", "030/123;4", "\\1"};
  std::mt19937 rng(2024);
  auto pick = [&](auto& from) {
    return std::string(from[std::uniform_int_distribution<size_t>(0, std::size(from) - 1)(rng)]);
  };
  std::vector<ContactRecord> out;
  for (size_t i = 0; i < n; ++i) {
    RecordTexts t{pick(words), pick(words), pick(phones), "", ""};
    if (!t.phone1.empty()) t.phone2 = pick(phones);
    for (int w = std::uniform_int_distribution<int>(0, 4)(rng); w > 0; --w)
      t.comments += (t.comments.empty() ? "" : " ") + pick(words);
    if ((t.name + t.surname + t.phone1 + t.comments).empty()) t.comments = "empty";
    for (std::string* f : {&t.name, &t.surname, &t.phone1, &t.phone2, &t.comments})
      *f = Utf8ToCodePage(*f);
    ContactRecord r;
    r.SetTexts(t);
    out.push_back(r);
  }
  return out;
}

TEST(Peers, VobjectReadsEveryCardAndItsCardsComeBackTheSame) {
  if (Shell(Python() + " -c 'import vobject' 2>/dev/null") != 0)
    GTEST_SKIP() << "SKIPPED: python3-vobject is not installed (scripts/deps.sh installs it)";
  TestDir dir;
  std::vector<ContactRecord> entries = Entries(1000);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.SortKey() < b.SortKey(); });
  dir.Write("ORIGINAL.VLM", FileOf(entries));
  dir.Write("cards.vcf", Velmora(dir, {"--export", "vcard", "original"}));

  ASSERT_EQ(Shell(Python() + " " + Quote(VELMORA_EXCHANGE_TEST_DIR "/vobject_roundtrip.py") + " " +
                  Quote(dir / "cards.vcf") + " " + Quote(dir / "values.json") + " " +
                  Quote(dir / "cards30.vcf")),
            0);

  // What vobject parsed: the same values, in file order.
  const QJsonArray cards =
      QJsonDocument::fromJson(QByteArray::fromStdString(dir.Read("values.json"))).array();
  const std::vector<ContactRecord> stored = RecordsOf(dir.Read("ORIGINAL.VLM"));
  ASSERT_EQ(size_t(cards.size()), stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    const RecordTexts t = stored[i].Texts();
    const QJsonObject card = cards[qsizetype(i)].toObject();
    auto text = [](const QJsonValue& v) { return v.toString().toStdString(); };
    std::vector<std::string> tels, notes, wantTels, wantNotes;
    for (const QJsonValue& v : card["tel"].toArray()) tels.push_back(text(v));
    for (const QJsonValue& v : card["note"].toArray()) notes.push_back(text(v));
    for (const std::string* p : {&t.phone1, &t.phone2})
      if (!p->empty()) wantTels.push_back(CodePageToUtf8(*p));
    if (!t.comments.empty()) wantNotes.push_back(CodePageToUtf8(t.comments));
    EXPECT_EQ(text(card["family"]), CodePageToUtf8(t.surname)) << "card " << i;
    EXPECT_EQ(text(card["given"]), CodePageToUtf8(t.name)) << "card " << i;
    EXPECT_EQ(tels, wantTels) << "card " << i;
    EXPECT_EQ(notes, wantNotes) << "card " << i;
  }

  // Its vCard 3.0 makes a new file equal to the original.
  const std::string cards30 = dir.Read("cards30.vcf");
  ASSERT_THAT(cards30, HasSubstr("VERSION:3.0\r\n"));
  Velmora(dir, {"--import", "vcard", dir / "cards30.vcf", "COPY"});
  EXPECT_TRUE(dir.Read("COPY.VLM") == dir.Read("ORIGINAL.VLM"));
}

TEST(Peers, AbookCardsImportAndOurCardsOpenInAbook) {
  if (Shell("abook --help >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "SKIPPED: abook is not installed (scripts/deps.sh installs it)";
  TestDir dir;
  // abook keeps its own files under HOME; it gets a scratch one.
  const std::string abook = "HOME=" + Quote(dir.path()) + " abook --convert ";
  // abook's CSV: name, e-mail, phone, notes.
  dir.Write("people.csv",
            "\"Jöhn Smith\",\"john@example.com\",\"0123 456\",\"a note, with comma\"\n"
            "\"Ævar Þór Ólafsson\",\"\",\"+354 1\",\"Ísland; north\"\n"
            "\"Anna Berg\",\"anna@example.org\",\"555-1\",\"\"\n");
  ASSERT_EQ(Shell(abook + "--informat csv --infile " + Quote(dir / "people.csv") +
                  " --outformat vcard --outfile " + Quote(dir / "abook.vcf")),
            0);
  ASSERT_THAT(dir.Read("abook.vcf"), Not(HasSubstr("VERSION")));

  Velmora(dir, {"--import", "vcard", dir / "abook.vcf", "FROMABOOK"});
  std::vector<RecordTexts> got;
  for (const ContactRecord& r : RecordsOf(dir.Read("FROMABOOK.VLM"))) got.push_back(r.Texts());
  EXPECT_EQ(got, (std::vector<RecordTexts>{
                     Texts("Anna", "Berg", "555-1"),
                     Texts("Jöhn", "Smith", "0123 456", "", "a note, with comma"),
                     Texts("Ævar Þór", "Ólafsson", "+354 1", "", "Ísland; north")}));

  // And back: abook reads our cards (it does not unfold or unescape, so
  // only the short values are compared).
  dir.Write("ours.vcf", Velmora(dir, {"--export", "vcard", "fromabook"}));
  const int read = Shell(abook + "--informat vcard --infile " + Quote(dir / "ours.vcf") +
                         " --outformat csv --outfile " + Quote(dir / "back.csv"));
  // Some builds of abook crash in their vCard reader, whatever they read.
  if (read < 0) GTEST_SKIP() << "SKIPPED: abook's vCard reader crashed; its cards were imported";
  ASSERT_EQ(read, 0);
  const std::string back = dir.Read("back.csv");
  for (const char* line :
       {"\"Anna Berg\",\"\",\"555-1\"", "\"Ævar Þór Ólafsson\",\"\",\"+354 1\",\"Ísland; north\"",
        "\"Jöhn Smith\",\"\",\"0123 456\""})
    EXPECT_THAT(back, HasSubstr(line));
}

}  // namespace
}  // namespace velmora::testing
