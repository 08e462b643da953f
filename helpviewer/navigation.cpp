#include "helpviewer/navigation.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "helpviewer/helpfiles.h"
#include "platform/filenames.h"
#include "platform/text.h"

namespace tolka {

size_t NthPos(std::string_view sub, std::string_view s, int n) {
  if (sub.empty() || n < 1) return 0;
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(sub, from);
    if (at == std::string_view::npos) return 0;
    if (--n == 0) return at + 1;
    from = at + sub.size();
  }
}

size_t LastPos(std::string_view sub, std::string_view s) {
  size_t last = 0;
  for (int k = 1;; ++k) {
    const size_t at = NthPos(sub, s, k);
    if (at == 0) return last;
    last = at;
  }
}

std::string ChildPath(std::string_view level, int n) {
  return std::string(level) + "#" + std::to_string(n);
}

QString CaptionFromArguments(const QStringList& arguments) {
  QString caption;
  for (const QString& a : arguments) caption += QLatin1Char(' ') + a;
  qsizetype begin = 0, end = caption.size();
  while (begin < end && caption[begin].unicode() < 33) ++begin;
  while (end > begin && caption[end - 1].unicode() < 33) --end;
  return caption.mid(begin, end - begin);
}

QString ProgramTitleFor(const QString& executableFileName) {
  const QString stem = executableFileName.section(QLatin1Char('.'), 0, 0);
  return stem.left(1).toUpper() + stem.mid(1).toLower();
}

HelpNavigator::HelpNavigator(velmora::Env& env, std::string viewerDir)
    : env_(env), viewerDir_(std::move(viewerDir)) {}

std::string HelpNavigator::PathOf(const std::string& name) const {
  return velmora::ResolveIn(env_, viewerDir_, name);
}

bool HelpNavigator::Exists(const std::string& name) const {
  if (env_.FileExists(PathOf(name))) return true;
  // A pipe, a device or a folder under the name is there too: reading it
  // then says "Cannot open file", as the root's list and Back say it.
  const std::vector<velmora::DirEntry> entries = env_.ListDir(viewerDir_);
  return std::any_of(entries.begin(), entries.end(),
                     [&](const velmora::DirEntry& e) { return velmora::SameName(e.name, name); });
}

void HelpNavigator::Start() {
  topicPath_ = kRootPath;
  listInFront_ = true;
  EnterLevel(kRootPath, 0);
}

void HelpNavigator::EnterLevel(const std::string& level, int current) {
  QStringList lines =
      ReadTextLines(env_, PathOf(IndexFileName(level)), kMaxHelpFileBytes, kMaxHelpLines);
  // The path follows the list only once the list is read: were it to move
  // first, a failed read would leave it naming a level whose entries are not
  // the ones shown, and every later double click would open the wrong file.
  topicPath_ = level;
  entries_ = std::move(lines);
  SetCurrentEntry(current);
  ++listVersion_;
}

void HelpNavigator::SetCurrentEntry(int entry) {
  currentEntry_ = entries_.isEmpty() ? -1 : std::clamp<int>(entry, 0, int(entries_.size()) - 1);
}

void HelpNavigator::OpenEntry(int selected) {
  const std::string child = ChildPath(topicPath_, selected + 1);
  if (Exists(IndexFileName(child))) {
    EnterLevel(child, 0);
    return;
  }
  listInFront_ = false;
  SetCurrentEntry(selected);
  if (Exists(TopicFileName(child)))
    SetTopicText(ReadTextLines(env_, PathOf(TopicFileName(child)), kMaxHelpFileBytes, kMaxHelpLines)
                     .join('\n'));
  // The not-found page too is titled by its entry. With nothing selected
  // there is no entry to take the caption from; an empty caption says so.
  topicCaption_ = selected >= 0 && selected < entries_.size() ? entries_[selected] : QString();
}

void HelpNavigator::BackToList() {
  SetTopicText(QString::fromLatin1(kTopicNotFound));
  listInFront_ = true;
}

void HelpNavigator::LevelUp() {
  if (topicPath_.size() <= std::string_view(kRootPath).size()) return;
  const size_t hash = LastPos("#", topicPath_);
  // The level left is the parent's entry n, its last "#n".
  EnterLevel(topicPath_.substr(0, hash - 1), std::stoi(topicPath_.substr(hash)) - 1);
}

void HelpNavigator::SetTopicText(QString text) {
  topicText_ = std::move(text);
  ++textVersion_;
}

}  // namespace tolka
