#include "platform/ioerror.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace velmora {
namespace {

TEST(IoError, CarriesTheRuntimeTextForEachCode) {
  EXPECT_STREQ(IoError(2).what(), "File not found");
  EXPECT_STREQ(IoError(3).what(), "Invalid filename");
  EXPECT_STREQ(IoError(4).what(), "Too many open files");
  EXPECT_STREQ(IoError(5).what(), "File access denied");
  EXPECT_STREQ(IoError(100).what(), "Read beyond end of file");
  EXPECT_STREQ(IoError(101).what(), "Disk full");
  EXPECT_STREQ(IoError(106).what(), "Invalid numeric input");
  EXPECT_STREQ(IoError(32).what(), "I/O error 32");
  EXPECT_EQ(IoError(32).code(), 32);
}

TEST(IoError, MapsErrnoOntoTheTableAndKeepsOthersApart) {
  EXPECT_EQ(IoCodeFromErrno(ENOENT), 2);
  EXPECT_EQ(IoCodeFromErrno(ENAMETOOLONG), 3);
  EXPECT_EQ(IoCodeFromErrno(EMFILE), 4);
  EXPECT_EQ(IoCodeFromErrno(EACCES), 5);
  EXPECT_EQ(IoCodeFromErrno(EROFS), 5);
  EXPECT_EQ(IoCodeFromErrno(ENOSPC), 101);
  EXPECT_EQ(IoCodeFromErrno(EDQUOT), 101);
  // EIO is 5 and must not read as "File access denied".
  EXPECT_EQ(IoCodeFromErrno(EIO), 1000 + EIO);
  EXPECT_STREQ(IoError(IoCodeFromErrno(EIO)).what(), "I/O error 1005");
}

TEST(IoError, KeepsThePathAndErrnoForTheLogButShowsTheTableTextAlone) {
  auto thrown = [](int err, const std::string& path) {
    try {
      ThrowIoErrorFromErrno(err, path);
    } catch (const IoError& e) {
      return e;
    }
    return IoError(0);
  };
  const struct {
    IoError error;
    const char* shown;
    const char* logged;
  } cases[] = {
      {thrown(EACCES, "/p/BRINK.VLM"), "File access denied",
       "I/O error 5 (File access denied) on /p/BRINK.VLM: Permission denied"},
      {thrown(EIO, "/p/temp.tmp"), "I/O error 1005",
       "I/O error 1005 on /p/temp.tmp: Input/output error"},
      {IoError(IoError::kReadBeyondEnd, "/p/F.VLM"), "Read beyond end of file",
       "I/O error 100 (Read beyond end of file) on /p/F.VLM"},
      {IoError(IoError::kDiskFull), "Disk full", "I/O error 101 (Disk full)"},
      // No file at all where one should be: the text says what and where.
      {thrown(EISDIR, "/p/temp.tmp"), "/p/temp.tmp is a folder, not a file",
       "I/O error 5 (/p/temp.tmp is a folder, not a file) on /p/temp.tmp: Is a directory"},
      {thrown(ESPIPE, "/p/temp.tmp"), "/p/temp.tmp is a pipe or a device, not a file",
       "I/O error 1029 (/p/temp.tmp is a pipe or a device, not a file) on /p/temp.tmp: Illegal "
       "seek"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.error.what(), c.shown);
    EXPECT_EQ(c.error.Describe(), c.logged);
  }
  EXPECT_EQ(cases[0].error.path(), "/p/BRINK.VLM");
  EXPECT_EQ(cases[0].error.err(), EACCES);
  EXPECT_EQ(cases[3].error.path(), "");
  EXPECT_EQ(cases[3].error.err(), 0);
}

}  // namespace
}  // namespace velmora
