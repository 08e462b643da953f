#pragma once
// The help viewer's navigation, apart from its window: which level's list is
// shown, which page is in front, and what the topic page holds. The window
// maps its events onto the four steps below and shows the state they leave.
//
// The help is a tree of files in the viewer's directory. A level path is
// "hlp#0" followed by one "#n" per level entered (n counts the entries of
// the level's list from 1). A level P lists the lines of the file "Pi"; an
// entry n of it opens the level "P#n" when "P#ni" exists, else the page
// "P#nh" when that exists, else the not-found page. Names are matched
// without regard to letter case, like every file name of the product. A
// level's list and a page hold at most kMaxHelpFileBytes and kMaxHelpLines.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/env.h"
#include "platform/readcaps.h"

namespace tolka {

using velmora::kMaxHelpFileBytes;
using velmora::kMaxHelpLines;

inline constexpr char kRootPath[] = "hlp#0";
inline constexpr char kTopicNotFound[] = "Topic not found.";

// The 1-based position in s at which the n-th occurrence of sub begins,
// counted from the left without overlaps; 0 when there are fewer than n, when
// n < 1, or when sub is empty.
size_t NthPos(std::string_view sub, std::string_view s, int n);
// The position NthPos gives for the last occurrence of sub; 0 when none.
size_t LastPos(std::string_view sub, std::string_view s);

// The level path of entry n of the level at path `level`.
std::string ChildPath(std::string_view level, int n);
// The names, in the viewer's directory, of a level's list and of a page.
inline std::string IndexFileName(std::string_view level) { return std::string(level) + "i"; }
inline std::string TopicFileName(std::string_view child) { return std::string(child) + "h"; }

// The window's caption from the command-line arguments after the program's
// name: joined with blanks, and stripped of every character below code 33 at
// both ends. Empty without arguments.
QString CaptionFromArguments(const QStringList& arguments);

// The program's title from its executable's file name: the name up to its
// first full stop, its first letter in upper case and the rest in lower case
// ("tolka" gives "Tolka").
QString ProgramTitleFor(const QString& executableFileName);

class HelpNavigator {
 public:
  // viewerDir: where the help files lie, ending in "/".
  HelpNavigator(velmora::Env& env, std::string viewerDir);

  // Enters the root level with the list page in front.
  // Throws "Cannot open file <path>" when the root's list cannot be read; the
  // list stays empty and the viewer is still usable.
  void Start();

  // A double click on the list: `selected` is the selected entry's index
  // from 0, or -1 when none is selected (then entry 0 is looked for).
  // Throws "Cannot open file <path>" when the chosen file exists but cannot be
  // read (a pipe, a device or a folder under its name included), and "Text
  // exceeds memo capacity" for a file beyond kMaxHelpFileBytes or
  // kMaxHelpLines.
  // Either way the list stays as it was; a page's failure leaves the topic
  // page in front with its text and caption unchanged.
  void OpenEntry(int selected);

  // Back on the topic page: the list page again as it was left; the topic
  // text reads "Topic not found." again.
  void BackToList();

  // Back on the list page: the parent level's list, read anew. Nothing at
  // the root. Throws "Cannot open file <path>"; the level is then unchanged.
  void LevelUp();

  // The entry the list's current item is to be on when a step shows the
  // list: the first of a level entered, the one that was opened after Back
  // from its page or its level; -1 only for an empty list. A list without
  // a current item would have Enter open entry 0's page, "Topic not found."
  int currentEntry() const { return currentEntry_; }

  // The full path of a help file's name.
  std::string PathOf(const std::string& name) const;

  const std::string& topicPath() const { return topicPath_; }
  const QStringList& entries() const { return entries_; }
  bool listInFront() const { return listInFront_; }
  const QString& topicText() const { return topicText_; }
  const QString& topicCaption() const { return topicCaption_; }
  // Counters that step whenever the list or the topic text is replaced, so
  // that the window redraws only those and keeps the list's selection.
  int listVersion() const { return listVersion_; }
  int textVersion() const { return textVersion_; }

 private:
  bool Exists(const std::string& name) const;
  // Shows the list of the level at `level` with entry `current` as the
  // current one; on failure nothing changes.
  void EnterLevel(const std::string& level, int current);
  void SetCurrentEntry(int entry);
  void SetTopicText(QString text);

  velmora::Env& env_;
  const std::string viewerDir_;
  std::string topicPath_ = kRootPath;  // the level whose list is shown
  QStringList entries_;                // that list, in file order
  bool listInFront_ = true;            // else the topic page is seen
  QString topicText_ = QString::fromLatin1(kTopicNotFound);
  QString topicCaption_;  // the page's entry; none before the first page
  int currentEntry_ = -1;
  int listVersion_ = 0;
  int textVersion_ = 0;
};

}  // namespace tolka
