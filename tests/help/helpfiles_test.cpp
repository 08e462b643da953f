// velmora's help files, read as the help viewer reads them: the tree of
// index and topic files from "hlp#0i", and each file's bytes, which must
// show as written in the viewer's list box and read-only text box.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = VELMORA_HELP_DIR;
const fs::path kProgramDir = VELMORA_PROGRAM_DIR;
const std::string kRoot = "hlp#0";

// What fits the viewer's window: an index title in the list box, a topic
// line in the text box without the horizontal scroll bar.
constexpr size_t kMaxTitle = 28;
constexpr size_t kMaxTopicLine = 60;
constexpr uintmax_t kMaxFileBytes = 4u << 20;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines of a file whose line ends are all CR LF; the end of the last
// line adds no empty one.
std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool Exists(const std::string& name) { return fs::is_regular_file(kSourceDir / name); }

// Every file of the source folder; none when it is missing, which the tree
// test reports.
std::vector<std::string> HelpFileNames() {
  std::vector<std::string> names;
  std::error_code missing;
  for (const fs::directory_entry& e : fs::directory_iterator(kSourceDir, missing))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---- The tree ----

struct Walk {
  std::set<std::string> reached;
  std::vector<std::string> faults;
};

// Visits the level at path like the viewer: each entry opens its child
// index when there is one, else its topic file.
void VisitLevel(const std::string& path, Walk& walk) {
  const std::string index = path + "i";
  walk.reached.insert(index);
  const std::vector<std::string> titles = Lines(ReadBytes(kSourceDir / index));
  if (titles.empty()) walk.faults.push_back(index + " lists no entry");
  for (size_t n = 1; n <= titles.size(); ++n) {
    const std::string child = path + "#" + std::to_string(n);
    const std::string where = index + " entry " + std::to_string(n) + " \"" + titles[n - 1] + "\"";
    const bool level = Exists(child + "i"), topic = Exists(child + "h");
    if (level && topic)
      walk.faults.push_back(where + ": its topic page is hidden by its sub-level");
    if (level) {
      VisitLevel(child, walk);
    } else if (topic) {
      walk.reached.insert(child + "h");
    } else {
      walk.faults.push_back(where + ": \"Topic not found.\"");
    }
  }
}

TEST(HelpTree, EveryEntryOpensAFileAndEveryFileIsReachedFromTheRoot) {
  ASSERT_TRUE(Exists(kRoot + "i")) << kSourceDir;
  Walk walk;
  VisitLevel(kRoot, walk);
  for (const std::string& fault : walk.faults) ADD_FAILURE() << fault;

  const std::regex helpName("hlp#0(#[1-9][0-9]*)*[ih]");
  for (const std::string& name : HelpFileNames()) {
    EXPECT_TRUE(std::regex_match(name, helpName)) << name << ": not a help file name";
    EXPECT_TRUE(walk.reached.count(name)) << name << ": reached from no entry";
  }
}

TEST(HelpTree, TheBuildPutsAnIdenticalCopyOfEveryFileInTheProgramDirectory) {
  for (const std::string& name : HelpFileNames()) {
    ASSERT_TRUE(fs::is_regular_file(kProgramDir / name)) << name << " missing from " << kProgramDir;
    EXPECT_EQ(ReadBytes(kProgramDir / name), ReadBytes(kSourceDir / name)) << name;
  }
}

// ---- Each file ----

class HelpFile : public ::testing::TestWithParam<std::string> {
 protected:
  bool IsIndex() const { return GetParam().back() == 'i'; }
};

TEST_P(HelpFile, IsWindows1252TextWithCrLfLineEnds) {
  const fs::path path = kSourceDir / GetParam();
  ASSERT_LE(fs::file_size(path), kMaxFileBytes);
  const std::string bytes = ReadBytes(path);
  ASSERT_FALSE(bytes.empty());
  ASSERT_TRUE(bytes.ends_with("\r\n")) << "the last line has no line end";
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const bool lineEnd = (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ||
                         (b == '\n' && i > 0 && bytes[i - 1] == '\r');
    // Code points Windows-1252 leaves unassigned, and every control
    // character but the line ends (a NUL would end the text, a tab has no
    // fixed width in the text box).
    const bool unassigned = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    ASSERT_TRUE(lineEnd || (b >= 0x20 && b != 0x7F && !unassigned))
        << "byte " << int(b) << " at offset " << i;
  }
}

TEST_P(HelpFile, FitsTheViewerWindow) {
  const std::vector<std::string> lines = Lines(ReadBytes(kSourceDir / GetParam()));
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    const std::string where = "line " + std::to_string(n + 1) + " \"" + line + "\"";
    if (IsIndex()) {
      EXPECT_FALSE(line.empty()) << where << ": an empty entry";
      EXPECT_LE(line.size(), kMaxTitle) << where;
    } else {
      EXPECT_LE(line.size(), kMaxTopicLine) << where;
    }
  }
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '#', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Velmora, HelpFile, ::testing::ValuesIn(HelpFileNames()), ParamName);

}  // namespace
}  // namespace velmora
