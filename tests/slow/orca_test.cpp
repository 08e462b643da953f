// The help viewer and the address book as a blind user meets them: driven by
// keys alone with Orca running, and checked by what Orca says.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/records.h"
#include "support/screenreader.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::FileOf;
using testing::Rec;
using testing::RecordsOf;
using testing::ScreenReader;

// Line `n` (from 0) of a help file beside tolka, cut before the point where
// Orca may split it into sentences.
std::string HelpLine(const std::string& file, int n) {
  std::ifstream in(std::filesystem::path(VELMORA_TOLKA_EXE).parent_path() / file);
  std::string line;
  for (int i = 0; i <= n; ++i) std::getline(in, line);
  while (!line.empty() && line.back() == '\r') line.pop_back();
  return line.substr(0, std::min(line.find('.'), size_t(20)));
}

TEST(Orca, ReadsTheHelpAndTheAddressBookDrivenByKeys) {
  ScreenReader reader;
  // Skipped where a part is missing; a part there that does not start fails.
  if (reader.problem().rfind("SKIPPED", 0) == 0) GTEST_SKIP() << reader.problem();
  ASSERT_EQ(reader.problem(), "");
  auto step = [&](const std::vector<std::string>& keys, const std::string& words) {
    reader.Forget();
    reader.Press(keys);
    EXPECT_TRUE(reader.Hears(words))
        << "after " << keys.back() << ", not \"" << words << "\" but:\n"
        << reader.Said();
    if (const char* shots = std::getenv("VELMORA_SHOTS"))
      reader.Picture(std::string(shots) + "/orca-" + keys.back() + ".png");
  };

  // The help: Enter twice opens the first entry's first page, which is read
  // at once, and Down reads its next line.
  const pid_t tolka = reader.Launch(VELMORA_TOLKA_EXE, {"Velmora", "Help"});
  // A program's start is slow on a busy machine.
  ASSERT_TRUE(reader.Hears(HelpLine("hlp#0i", 0), 20)) << reader.Said();
  step({"Return"}, HelpLine("hlp#0#1i", 0));
  step({"Return"}, HelpLine("hlp#0#1#1h", 0));
  step({"Down"}, HelpLine("hlp#0#1#1h", 1));
  reader.End(tolka);

  // The address book, in a folder of its own as a portable copy.
  const std::string app = reader.DataHome() + "/app/";
  std::filesystem::create_directories(app);
  std::filesystem::copy_file(VELMORA_EXE, app + "velmora");
  std::filesystem::permissions(app + "velmora", std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  std::ofstream(app + "velmora.ini") << "[filenames]\r\nextention=vlm\r\ndefaultfile=friends\r\n";
  std::ofstream(app + "FRIENDS.VLM")
      << FileOf({Rec("DEE", "SMART"), Rec("EVE", "SMOOT"), Rec("FAY", "SMYTH")});
  reader.Forget();
  reader.Launch(app + "velmora", {});
  ASSERT_TRUE(reader.Hears("FRIENDS", 20)) << reader.Said();

  // A search reads its first result; EDIT reads PHONE1; Escape is CANCEL.
  reader.Press({"Alt_L+s"}, 1);  // the search panel takes the focus
  step({"s", "m", "Return"}, "DEE");
  reader.Forget();
  for (int i = 0; i < 8 && !reader.Hears("EDIT push button", 1); ++i) reader.Press({"Tab"});
  step({"space"}, "PHONE1");
  // Delete asks, Escape cancels; BACK, and a search with one result, whose
  // one entry Delete deletes after the same question.
  step({"Escape", "Delete"}, "You are about to delete the entry for DEE SMART");
  reader.Press({"Escape", "Escape", "Alt_L+s"}, 1);
  step({"BackSpace", "BackSpace", "s", "m", "o", "Return"}, "EVE");
  step({"Delete"}, "You are about to delete the entry for EVE SMOOT");
  reader.Press({"Return"}, 1);
  std::ifstream in(app + "FRIENDS.VLM", std::ios::binary);
  const std::string left{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(RecordsOf(left).size(), 2u);
}

}  // namespace
}  // namespace velmora
