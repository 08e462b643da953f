// The save protocol in a folder someone else prepared: whatever lies under
// the scratch file's name is never opened, and a target that is a link is
// saved where the link leads and stays a link.

#include "platform/savefile.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/ioerror.h"
#include "support/fakeenv.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::TestDir;

void Save(Env& env, const TestDir& dir, const std::string& target, const std::string& bytes) {
  SaveFile out(env, dir.path(), "temp.tmp", dir / target);
  out.Append(bytes.data(), bytes.size());
  out.Commit();
}

struct stat Lstat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

mode_t FreshMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

TEST(SaveFile, WhateverLiesUnderTheScratchNameIsNeverOpened) {
  struct Case {
    const char* what;
    std::function<void(const TestDir& dir, const TestDir& outside)> plant;
    mode_t kind;
  } cases[] = {
      {"a link to another file",
       [](auto& dir, auto& outside) {
         ::symlink((outside / "victim").c_str(), (dir / "temp.tmp").c_str());
       },
       S_IFLNK},
      {"a link to nothing",
       [](auto& dir, auto& outside) {
         ::symlink((outside / "new").c_str(), (dir / "temp.tmp").c_str());
       },
       S_IFLNK},
      {"a file left by a crash, open to all",
       [](auto& dir, auto&) {
         dir.Write("temp.tmp", "stale");
         ::chmod((dir / "temp.tmp").c_str(), 0666);
       },
       S_IFREG},
      {"a folder", [](auto& dir, auto&) { ::mkdir((dir / "temp.tmp").c_str(), 0755); }, S_IFDIR},
      {"a pipe", [](auto& dir, auto&) { ::mkfifo((dir / "temp.tmp").c_str(), 0644); }, S_IFIFO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestDir dir, outside;
    outside.Write("victim", "keep");
    c.plant(dir, outside);
    const struct stat before = Lstat(dir / "temp.tmp");

    Save(Env::Posix(), dir, "brink.vlm", "new content");

    EXPECT_EQ(dir.Read("brink.vlm"), "new content");
    const struct stat saved = Lstat(dir / "brink.vlm");
    EXPECT_TRUE(S_ISREG(saved.st_mode));
    EXPECT_EQ(saved.st_mode & 07777, FreshMode()) << "a new file's mode comes from the umask";
    const struct stat after = Lstat(dir / "temp.tmp");
    EXPECT_EQ(after.st_mode & S_IFMT, c.kind);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_THAT(dir.Names(), ::testing::ElementsAre("brink.vlm", "temp.tmp"));
    EXPECT_THAT(outside.Names(), ::testing::ElementsAre("victim"));
    EXPECT_EQ(outside.Read("victim"), "keep");
  }
}

TEST(SaveFile, ALinkedTargetIsSavedWhereItLeadsAndStaysALink) {
  struct Case {
    const char* what;
    std::function<std::string(const TestDir& dir, const TestDir& synced)> plant;  // where it leads
  } cases[] = {
      {"an absolute link",
       [](auto& dir, auto& synced) {
         ::symlink((synced / "friends.vlm").c_str(), (dir / "FRIENDS.VLM").c_str());
         return synced / "friends.vlm";
       }},
      {"a relative link, through a second one",
       [](auto& dir, auto& synced) {
         ::mkdir((dir / "sub").c_str(), 0755);
         ::symlink((synced / "friends.vlm").c_str(), (dir / "sub/hop").c_str());
         ::symlink("sub/hop", (dir / "FRIENDS.VLM").c_str());
         return synced / "friends.vlm";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestDir dir, synced;
    synced.Write("friends.vlm", "old");
    ::chmod((synced / "friends.vlm").c_str(), 0640);
    const std::string leadsTo = c.plant(dir, synced);

    // A failed save leaves the target and both folders as they were.
    testing::FaultEnv failing;
    failing.FailEvery("rename", EIO);
    EXPECT_THROW(Save(failing, dir, "FRIENDS.VLM", "new"), IoError);
    EXPECT_EQ(synced.Read("friends.vlm"), "old");
    EXPECT_THAT(synced.Names(), ::testing::ElementsAre("friends.vlm"));

    Save(Env::Posix(), dir, "FRIENDS.VLM", "new");
    EXPECT_TRUE(S_ISLNK(Lstat(dir / "FRIENDS.VLM").st_mode));
    EXPECT_EQ(synced.Read("friends.vlm"), "new");
    EXPECT_EQ(Lstat(leadsTo).st_mode & 07777, 0640u);
    EXPECT_THAT(synced.Names(), ::testing::ElementsAre("friends.vlm"));
    EXPECT_FALSE(dir.Exists("temp.tmp"));
  }
}

TEST(SaveFile, ATargetThatIsNoRegularFileIsRefusedAndLeftAlone) {
  TestDir dir;
  ::mkdir((dir / "folder").c_str(), 0755);
  ::mkfifo((dir / "pipe").c_str(), 0644);
  ::symlink("/dev/zero", (dir / "zero").c_str());
  ::symlink("folder", (dir / "tofolder").c_str());
  ::symlink((dir / "gone").c_str(), (dir / "dangling").c_str());
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"folder", "Cannot write " + (dir / "folder") + ": it is not a regular file"},
      {"pipe", "Cannot write " + (dir / "pipe") + ": it is not a regular file"},
      {"zero",
       "Cannot write " + (dir / "zero") + ": it links to /dev/zero, which is not a regular file"},
      {"tofolder", "Cannot write " + (dir / "tofolder") + ": it links to " + (dir / "folder") +
                       ", which is not a regular file"},
      {"dangling", "Cannot write " + (dir / "dangling") + ": it links to " + (dir / "gone") +
                       ", which is not a regular file"},
  };
  const auto names = dir.Names();
  for (const auto& c : cases) {
    try {
      Save(Env::Posix(), dir, c.name, "new");
      ADD_FAILURE() << c.name << " was written";
    } catch (const AppError& e) {
      EXPECT_EQ(e.what(), c.text);
    }
    EXPECT_EQ(dir.Names(), names) << c.name;
  }
}

}  // namespace
}  // namespace velmora
