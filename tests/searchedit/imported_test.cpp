// Cards of other address books, imported from the command line into a new
// data file, as the windows then show them.
#include "exchange/command.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

class ImportedTest : public testing::WindowsTest {};

TEST_F(ImportedTest, CardsOfEveryVersionShowInTheResultGrid) {
  std::string err;
  CommandIo io{[](std::string_view) {}, [&](const std::string& line) { err += line + "\n"; },
               [](char*, size_t) { return size_t(0); }};
  for (const char* version : {"v21", "v30", "v40"}) {
    const std::string file = std::string(VELMORA_TEST_DATA) + "/vcard/" + version + ".vcf";
    ASSERT_EQ(RunExchangeCommand({"--import", "vcard", file, "Cards"}, dir.path(), env, io), 0)
        << err;
  }
  dir.Write("velmora.ini", "[filenames]\r\nextention=vlm\r\ndefaultfile=cards\r\n");
  Start({}, true);
  Search("");
  EXPECT_EQ(Column(1), (std::vector<QString>{"?????????", "Château", "Dupont", "González", "Müller",
                                             "O'Brien-Fitzgerald", "Vega"}));
  EXPECT_EQ(Cell(3, 0), QString::fromUtf8("Zoë"));
}

}  // namespace
}  // namespace velmora
