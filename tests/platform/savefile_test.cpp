// The save protocol in a folder someone else prepared: what lies under the
// scratch file's name is never opened, a linked target is saved where the
// link leads and stays a link, and a target that is no regular file is
// refused.

#include "platform/savefile.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ioerror.h"
#include "support/testdir.h"

namespace velmora {
namespace {

using testing::TestDir;

TEST(SaveFile, InAFolderSomeoneElsePrepared) {
  const mode_t umaskBefore = ::umask(022);
  const struct Case {
    const char* what;
    const char* name;  // planted in the folder: the scratch name or the target F.VLM
    char kind;         // 'l' a link to `to` ("victim": the file elsewhere, by a relative
                       // path), 'p' a pipe, 'd' a folder, 'f' a file open to all
    const char* to;
    const char* error;  // after "Cannot write <target>"; empty: saved
  } cases[] = {
      {"a link as scratch file", "temp.tmp", 'l', "victim", ""},
      {"a pipe as scratch file", "temp.tmp", 'p', "", ""},
      {"a folder as scratch file", "temp.tmp", 'd', "", ""},
      {"a stale scratch file", "temp.tmp", 'f', "", ""},
      {"a link into a synced folder", "F.VLM", 'l', "victim", ""},
      {"a link to a device", "F.VLM", 'l', "/dev/zero",
       ": it links to /dev/zero, which is not a regular file"},
      {"a folder as target", "F.VLM", 'd', "", ": it is not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestDir dir, elsewhere;
    elsewhere.Write("victim", "keep");
    ::chmod((elsewhere / "victim").c_str(), 0640);
    const std::string& e = elsewhere.path();
    const std::string victim = "../" + e.substr(e.rfind('/', e.size() - 2) + 1) + "victim";
    const std::string at = dir / c.name;
    if (c.kind == 'l') ::symlink(c.to == std::string("victim") ? victim.c_str() : c.to, at.c_str());
    if (c.kind == 'p') ::mkfifo(at.c_str(), 0644);
    if (c.kind == 'd') ::mkdir(at.c_str(), 0755);
    if (c.kind == 'f') dir.Write(c.name, "stale"), ::chmod(at.c_str(), 0666);
    const bool linked = c.name == std::string("F.VLM") && !*c.error;
    auto names = dir.Names();

    try {
      SaveFile out(Env::Posix(), dir.path(), "temp.tmp", dir / "F.VLM");
      out.Append("new", 3);
      out.Commit();
      EXPECT_STREQ(c.error, "");
    } catch (const AppError& err) {
      EXPECT_EQ(err.what(), "Cannot write " + (dir / "F.VLM") + c.error);
    }
    struct stat st;
    if (::lstat((dir / "F.VLM").c_str(), &st) != 0) {
      ADD_FAILURE() << "no F.VLM";
      continue;
    }
    EXPECT_EQ(S_ISLNK(st.st_mode), linked || (c.kind == 'l' && *c.error)) << "a link stays a link";
    if (!*c.error && !linked) {
      names.insert(names.begin(), "F.VLM");
      EXPECT_EQ(dir.Read("F.VLM"), "new");
      EXPECT_EQ(st.st_mode & 07777, 0644u) << "a new file's mode comes from the umask";
    }
    EXPECT_EQ(dir.Names(), names) << "nothing is left and nothing planted goes";
    EXPECT_EQ(elsewhere.Read("victim"), linked ? "new" : "keep");
    EXPECT_THAT(elsewhere.Names(), ::testing::ElementsAre("victim"));
    EXPECT_EQ(::stat((elsewhere / "victim").c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 0640u)
        << "a replaced file keeps its mode";
  }
  ::umask(umaskBefore);
}

}  // namespace
}  // namespace velmora
