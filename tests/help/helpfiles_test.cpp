// velmora's help files, read as the help viewer reads them: the tree of
// index and topic files from "hlp#0i", and each file's bytes, which must
// show as written in the viewer's list box and read-only text box.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontMetrics>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "components/appexec.h"
#include "helpviewer/helpfiles.h"
#include "helpviewer/tolka1.h"
#include "platform/guard.h"
#include "platform/ioerror.h"
#include "store/startup.h"
#include "support/dialogs.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = VELMORA_HELP_DIR;
const fs::path kProgramDir = VELMORA_PROGRAM_DIR;
const std::string kRoot = "hlp#0";

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

// ---- What the pages say ----

// The text of every page, each run of blanks and line ends read as one blank,
// so that a message wrapped over several lines is found as one text.
std::string AllPagesText() {
  std::string all;
  for (const std::string& name : HelpFileNames()) {
    if (name.back() != 'h') continue;
    for (char c : ReadBytes(kSourceDir / name)) {
      const bool blank = c == ' ' || c == '\r' || c == '\n';
      if (!blank)
        all.push_back(c);
      else if (!all.empty() && all.back() != ' ')
        all.push_back(' ');
    }
    all.push_back(' ');
  }
  return all;
}

// The messages a user can meet, as the help quotes them.
std::vector<std::string> MessagesAUserCanMeet() {
  std::vector<std::string> messages = {
      // The windows' boxes and rows.
      "No matching entries found.", std::string(kCannotEditText),
      "You are about to delete the entry for", "Name and surname fields are mandatory.",
      "This entry was changed meanwhile, by another window or a sync. The search is made again.",
      "No ekstra info found for", "cannot store some characters; DONE would store each as",
      "Store them as \"?\"? No goes back to the entry.", "No extra text for",
      "in its name may stand for a character code page",
      "cannot store, so its file could be another entry's.",
      "This action will save text changes and exit text-edit, OK?",
      "Unsaved changes will be lost, OK?", "Cannot open file", "Failed to Load Stream.",
      "Cannot create file", "Failed to Save Stream.", "No default printer is set up.",
      "Printing could not start.", "Printing failed.", "FILE EXISTS - OVERWRITE?",
      "Cannot overwrite current working file!", "Make this the default file ?",
      "Cannot rename to the same name!", "Cannot delete current working file!",
      "will be permanently deleted along with all entries it contains! - Are you sure?",
      "Unable to write to", std::string(kUnknownErrorText) + ".",
      // The help viewer.
      "Topic not found.", "Text exceeds memo capacity.",
      // Import and export on the command line.
      "not a data file name",
      "no such data file, and a new one is named by up to 12 letters or digits",
      "velmora: no data file", "; nothing was imported", "entries exported from",
      "entries added to", "fields cut to size", "replaced by \"?\"",
      "cannot write to standard output", "velmora: standard input:", "expected BEGIN:VCARD, found",
      "not a vCard line:", "quoted-printable \"=\" not followed by two hex digits",
      "a base64 value that is not base64",
      "the first row names none of the columns name, surname, phone or comments",
      "a quoted field that is never closed", "text after the closing quote of a field",
      "a row longer than 16 MiB",
      "usage: velmora [OPTION...]; without options it opens its windows", "unknown option \"",
      "unexpected argument \"", "is no format velmora knows: vcard or csv",
      "--wait takes a number of seconds up to", "--wait goes with a command such as --import",
      "skipped: no name, surname, phone or comments", "made no whole entry; they were left out",
      "made no whole entry; they were dropped", "holds no entries, so no data file",
      "is a folder, not a data file", "is a pipe or a device, not a data file",
      "is busy: another velmora is using it; waiting up to", "is still busy after",
      // Start and the data folder.
      std::string(kFolderBusyText) + ".", std::string(kOutOfMemoryText) + ".",
      "is a folder, not a file.", "is a pipe or a device, not a file.", "is a file, not a folder.",
      "There is no folder for the data files: the program folder",
      "may not be written, and neither XDG_DATA_HOME nor HOME is set",
      "The program's own folder cannot be found:",
      "is larger than 1 MiB and was not read; the sample file BRINK is used.",
      "as the data file, one of velmora's own files; the sample file is used instead",
      "velmora.ini names the code page",
      "which velmora cannot use. Texts are read and written in code page 1252 (Western "
      "European) until codepage= names another.",
      ": it is not a regular file", ", which is not a regular file", "more fields than the",
      "columns of the first row; nothing was imported", "a first row of more than",
      // The sync.
      "usage: velmora --sync DIR [NAME] [--prefer here|there] [--reset] [--dry-run] "
      "[--allow-empty]",
      "for the first time", "would be synced with", "; a dry run: nothing was written",
      "yet: the sync makes it and adds the cards of",
      "velmora: name the data file to sync; --sync DIR NAME makes NAME if missing",
      "is synced with", "; --reset pairs it with", "; nothing was changed",
      "; nothing is lost: the next sync completes the rest",
      ", both versions kept:", ", velmora's version kept:", ", the folder's version kept:",
      "could not be read and was skipped", "cards left alone: no name, surname, phone or comments",
      ": ~ stands for the home folder, but HOME names none",
      ": only ~ and ~/... stand for the home folder; give the whole path",
      "is no sync state velmora can read",
      "; this sync pairs contacts by their texts, as a first sync does, and deletes nothing",
      "is larger than 4 GiB and was not read",
      "is a link, which the sync does not follow; --reset replaces the link",
      "is not a regular file; the sync neither reads nor replaces it", "holds no cards, though",
      "holds no entries, though",
      "synced with it; if that is what you want, --allow-empty deletes them in velmora too",
      "--allow-empty deletes them in the folder too", "a link, which is never followed",
      "holds 3 cards", "larger than 64 MiB", "changed meanwhile, left for the next sync",
      // The SYNC menu and its account.
      "Syncing...", "Sync failed", "2 added here, 1 changed there", "nothing changed",
      "changed on both sides", "cards skipped", "The sync with the server failed:",
      "velmora tries again every 15 minutes, after your changes, and at SYNC NOW.",
      "Changed both here and on the server since the last sync, and both versions kept:",
      "Delete the one you do not want.",
      "the keyring holds no password for this account; ACCOUNT... asks for it again",
      "Type the server's address and your user name.", "Type your password.",
      "Pick one of the address books, then OK.", "The server lists no address book for this user.",
      "No authority vouches for the server's certificate. Trust it for this account only if its "
      "SHA-256 fingerprint is the one your server's owner gives you:",
      "Trust this certificate?",
      "Remove the account? Syncing stops; the entries stay in the data file and on the server.",
      "Cannot reach", ": the connection was refused", ": no such host", ": no answer for 60 seconds",
      ": this is no server address", "The server refused the user name or password",
      "is no address book", "No address book found at", "The server answered",
      "The server's answer could not be read", "The server's certificate is not trusted",
      "; or --sync --account with the same options", "in the address book",
      "the server's version kept", "--allow-empty deletes them in the address book too",
      "velmora: no CardDAV account is set up; add one in the window: SYNC, ACCOUNT...",
      "velmora: the desktop's keyring holds no password for", "; enter it in the window: SYNC, ACCOUNT...",
      "The desktop's keyring could not be used", "may not hold a line break"};
  // The file steps' texts, and the launcher's for each way HELP can fail.
  for (int code : {IoError::kFileNotFound, IoError::kInvalidFilename, IoError::kTooManyOpenFiles,
                   IoError::kAccessDenied, IoError::kReadBeyondEnd, IoError::kDiskFull})
    messages.push_back(IoError::TextFor(code) + ".");
  messages.push_back(IoError::TextFor(1005) + ".");
  velmora::TAppExec launcher;
  launcher.SetLangType(ltEnglish);
  for (int errNo : {2, 5, 8, 11}) messages.push_back(appexec::MessageFor(errNo) + ".");
  messages.push_back("Unknown error ");
  return messages;
}

TEST(HelpPages, EveryMessageAUserCanMeetIsQuotedOnSomePage) {
  const std::string pages = AllPagesText();
  for (const std::string& message : MessagesAUserCanMeet())
    EXPECT_NE(pages.find(message), std::string::npos) << "no page quotes: " << message;
}

// The string literals of the programs' sources, adjacent ones joined as
// the compiler joins them, escapes undone, blanks at either end trimmed;
// each between line ends.
std::string ProgramLiterals() {
  const fs::path root = kSourceDir.parent_path().parent_path();
  std::vector<fs::path> files = {root / "main.cpp"};
  for (const char* dir : {"components", "exchange", "helpviewer", "mainwindow", "platform",
                          "searchedit", "store", "sync"})
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root / dir))
      if (e.path().extension() == ".cpp" || e.path().extension() == ".h") files.push_back(e);
  std::vector<std::string> literals;
  for (const fs::path& file : files) {
    const std::string code = ReadBytes(file);
    bool joining = false;  // only blanks since the last literal's end
    for (size_t i = 0; i < code.size(); ++i) {
      const char c = code[i];
      if (c == '/' && i + 1 < code.size() && (code[i + 1] == '/' || code[i + 1] == '*')) {
        const bool line = code[i + 1] == '/';
        i = code.find(line ? "\n" : "*/", i + 2);
        if (i == std::string::npos) break;
        i += line ? 0 : 1;
      } else if (c == '\'') {
        while (++i < code.size() && code[i] != '\'') i += code[i] == '\\';
      } else if (c == '"') {
        if (!joining) literals.emplace_back();
        for (++i; i < code.size() && code[i] != '"'; ++i) {
          if (code[i] == '\\' && ++i < code.size()) {
            static const std::string kFrom = "nrt", kTo = "   ";
            const size_t k = kFrom.find(code[i]);
            literals.back() += k == std::string::npos ? code[i] : kTo[k];
          } else {
            literals.back() += code[i];
          }
        }
        joining = true;
        continue;
      }
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') joining = false;
    }
  }
  std::string out = "\n";
  for (const std::string& l : literals) {
    const size_t from = l.find_first_not_of(' '), to = l.find_last_not_of(' ');
    if (from != std::string::npos) out += l.substr(from, to - from + 1) + "\n";
  }
  return out;
}

// Whether the programs can say text: each of its pieces between what they
// fill in (numbers, names in quotes, "...") is one of their literals, or
// literals put together at blanks, as a message is made of a literal, a
// count's words and another literal.
bool ProgramCanSay(const std::string& literals, const std::string& text) {
  static const std::regex kFilledIn(R"re(\d+|\.\.\.|"|<[^>]*>)re");
  for (std::sregex_token_iterator it(text.begin(), text.end(), kFilledIn, -1), end; it != end;
       ++it) {
    std::string piece = *it;
    while (!piece.empty() && (piece.back() == '.' || piece.back() == ' ')) piece.pop_back();
    while (!piece.empty() && piece.front() == ' ') piece.erase(0, 1);
    if (piece.size() <= 2 || literals.find(piece) != std::string::npos) continue;
    // Segments from each blank on: a literal's end, whole literals, a
    // literal's start.
    // A segment ends at a blank, which belongs to neither, or before a
    // ";" or ",", which begins the next.
    std::vector<std::pair<size_t, size_t>> cuts = {{0, 0}};  // where one ends, the next begins
    for (size_t b = 1; b < piece.size(); ++b) {
      if (piece[b] == ' ') cuts.push_back({b, b + 1});
      if (piece[b] == ';' || piece[b] == ',') cuts.push_back({b, b});
    }
    std::vector<size_t> starts;
    for (const auto& cut : cuts) starts.push_back(cut.second);
    std::vector<bool> reached(starts.size(), false);
    reached[0] = true;
    bool said = false;
    for (size_t a = 0; a < starts.size() && !said; ++a) {
      if (!reached[a]) continue;
      const std::string lead = a == 0 ? "" : "\n";
      for (size_t b = a + 1; b <= starts.size(); ++b) {
        const size_t to = b == starts.size() ? piece.size() : cuts[b].first;
        if (to <= starts[a]) continue;
        const std::string seg = piece.substr(starts[a], to - starts[a]);
        if (b == starts.size()) {
          said = literals.find(lead + seg) != std::string::npos;
          if (said) break;
        } else if (literals.find(lead + seg + "\n") != std::string::npos) {
          reached[b] = true;
        }
      }
    }
    if (!said) return false;
  }
  return true;
}

// And the other way: the help quotes nothing velmora no longer says, so
// that program and pages cannot drift apart.
TEST(HelpPages, EveryMessageTheHelpQuotesIsOneVelmoraCanSay) {
  const std::string literals = ProgramLiterals();
  ASSERT_GT(literals.size(), 10000u);
  for (const std::string& message : MessagesAUserCanMeet())
    EXPECT_TRUE(ProgramCanSay(literals, message)) << "velmora never says: " << message;
  // What the pages quote besides messages: what a user types, and examples.
  const std::set<std::string> kExamples = {"SM",
                                           " Smith",
                                           "--exprot",
                                           "velmora 0.1",
                                           "~/.local/share/vdirsyncer/status/",
                                           "~/.local/share/velmora/contacts/",
                                           "https://example.org/dav/ann/x/",
                                           "secret",
                                           "server",
                                           "filesystem",
                                           "carddav"};
  static const std::regex kQuoted(R"re("([^"\\]*)")re");
  for (const std::string& name : HelpFileNames()) {
    if (name.back() != 'h') continue;
    std::string page = ReadBytes(kSourceDir / name);
    page = std::regex_replace(page, std::regex("\r?\n *"), " ");
    for (std::sregex_iterator it(page.begin(), page.end(), kQuoted), end; it != end; ++it) {
      const std::string quoted = (*it)[1];
      if (!kExamples.count(quoted)) {
        EXPECT_TRUE(ProgramCanSay(literals, quoted))
            << name << " quotes what velmora never says: " << quoted;
      }
    }
  }
}

// ---- Each file ----

// The viewer's window, made on the help files themselves: its text box
// and list box measure each line with the fonts and widths they show it in.
class ViewerBoxes {
 public:
  ViewerBoxes()
      : form_(velmora::Env::Posix(), kSourceDir.string() + "/", {"Velmora", "Help"}),
        memoFont_(QFont()),
        listFont_(QFont()) {
    form_.show();
    auto* memo = form_.findChild<QPlainTextEdit*>("Memo1");
    auto* list = form_.findChild<QListWidget*>("ListBox2");
    memo->setPlainText(QString("line\n").repeated(200));
    QCoreApplication::processEvents();
    memoFont_ = QFontMetrics(memo->font());
    listFont_ = QFontMetrics(list->font());
    // The topic page lies hidden under the list page: what its scroll bar
    // would be when shown counts. The text box keeps a margin on both sides of its text and room
    // for the cursor after it; the list a margin around each entry.
    const int margin = int(std::ceil(memo->document()->documentMargin()));
    int viewport = memo->viewport()->width();
    if (!memo->verticalScrollBar()->isVisibleTo(memo))
      viewport -= memo->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    topicWidth_ = viewport - 2 * margin - memo->cursorWidth();
    // An entry's text keeps a margin on both sides within the list, which
    // shows its vertical scroll bar when it has more entries than rows.
    listWidth_ = list->viewport()->width() -
                 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
    if (list->verticalScrollBar()->isVisibleTo(list))
      listWidth_ += list->verticalScrollBar()->width();
    scrollBarWidth_ = memo->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    listRowsShown_ = list->viewport()->height() / std::max(1, list->sizeHintForRow(0));
    topicLinesShown_ = memo->viewport()->height() / memoFont_.lineSpacing();
  }

  // The room a topic line has before the text box needs its horizontal
  // scroll bar, with the vertical one shown, as on a long page.
  int topicWidth() const { return topicWidth_; }
  // The room an entry has in a list of `entries`.
  int listWidth(qsizetype entries) const {
    return entries > listRowsShown_ ? listWidth_ - scrollBarWidth_ : listWidth_;
  }
  int topicLinesShown() const { return topicLinesShown_; }
  int TopicLineWidth(const QString& line) const { return memoFont_.horizontalAdvance(line); }
  int ListLineWidth(const QString& line) const { return listFont_.horizontalAdvance(line); }

 private:
  velmora::testing::ScriptedDialogs dialogs_;
  tolka::TForm1 form_;
  QFontMetrics memoFont_;
  QFontMetrics listFont_;
  int topicWidth_ = 0;
  int listWidth_ = 0;  // without the vertical scroll bar
  int scrollBarWidth_ = 0;
  int listRowsShown_ = 0;
  int topicLinesShown_ = 0;
};

class HelpFile : public ::testing::TestWithParam<std::string> {
 protected:
  bool IsIndex() const { return GetParam().back() == 'i'; }
  // One window for the whole suite, gone again before the application is.
  static const ViewerBoxes& Boxes() {
    if (!boxes_) boxes_ = std::make_unique<ViewerBoxes>();
    return *boxes_;
  }
  static void TearDownTestSuite() { boxes_.reset(); }

 private:
  static inline std::unique_ptr<ViewerBoxes> boxes_;
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
  const ViewerBoxes& boxes = Boxes();
  const QStringList lines = tolka::TextLines(ReadBytes(kSourceDir / GetParam()));
  for (qsizetype n = 0; n < lines.size(); ++n) {
    const QString& line = lines[n];
    const std::string where = "line " + std::to_string(n + 1) + " \"" + line.toStdString() + "\"";
    if (IsIndex()) {
      EXPECT_FALSE(line.isEmpty()) << where << ": an empty entry";
      EXPECT_LE(boxes.ListLineWidth(line), boxes.listWidth(lines.size())) << where;
    } else {
      EXPECT_LE(boxes.TopicLineWidth(line), boxes.topicWidth()) << where;
    }
  }
  // A page longer than two screens is better split into entries of a level.
  if (!IsIndex()) {
    EXPECT_LE(lines.size(), 2 * boxes.topicLinesShown());
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
