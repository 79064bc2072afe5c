#include "src/engine/resume_stamp.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "src/platform/file_system.h"

namespace vespar {
namespace {

class ResumeStampTest : public testing::Test {
 protected:
  // The real file system, except that it keeps no birth times.
  class NoBirthTimeFileSystem : public PosixFileSystem {
   public:
    int BirthTime(int fd, int64_t* stamp) override {
      *stamp = 0;
      return 0;
    }
  };

  void SetUp() override {
    char pattern[] = "/tmp/vespar-stamp-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    folder_ = pattern;
  }
  void TearDown() override {
    SetFileSystem(nullptr);
    std::string command = "rm -rf '" + folder_ + "'";
    (void)std::system(command.c_str());
  }

  int Create(const std::string& name) {
    return ::open((folder_ + "/" + name).c_str(),
                  O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }

  std::string folder_;
};

TEST_F(ResumeStampTest, BirthTimeStaysWhileWrittenAndChangesWhenCreatedAnew) {
  int fd = Create("a.tmp");
  ASSERT_GE(fd, 0);
  uint64_t stamp = ReadCreationStamp(fd);
  if (stamp == 0) {
    ::close(fd);
    GTEST_SKIP() << "this file system keeps no birth time";
  }
  // Somewhere after 2020 in 100 ns units since 1601.
  EXPECT_GT(stamp, 132223104000000000ull);
  ASSERT_EQ(5, ::pwrite(fd, "hello", 5, 1 << 20));
  ASSERT_EQ(0, ::fsync(fd));
  EXPECT_EQ(stamp, ReadCreationStamp(fd));
  EXPECT_EQ(stamp, EnsureCreationStamp(fd));
  ::close(fd);

  ASSERT_EQ(0, ::unlink((folder_ + "/a.tmp").c_str()));
  fd = Create("a.tmp");
  ASSERT_GE(fd, 0);
  EXPECT_NE(stamp, ReadCreationStamp(fd));
  ::close(fd);
}

TEST_F(ResumeStampTest, AttributeStandsInWithoutBirthTime) {
  NoBirthTimeFileSystem fs;
  SetFileSystem(&fs);
  int fd = Create("b.tmp");
  ASSERT_GE(fd, 0);
  if (::fsetxattr(fd, "user.vespar.probe", "1", 1, 0) != 0) {
    ::close(fd);
    GTEST_SKIP() << "no user extended attributes here: " << errno;
  }
  EXPECT_EQ(0u, ReadCreationStamp(fd));  // a file nobody stamped has none
  uint64_t stamp = EnsureCreationStamp(fd);
  EXPECT_NE(0u, stamp);
  ASSERT_EQ(3, ::pwrite(fd, "abc", 3, 0));
  EXPECT_EQ(stamp, ReadCreationStamp(fd));
  EXPECT_EQ(stamp, EnsureCreationStamp(fd));  // a second open keeps it
  ::close(fd);

  // A file created anew carries no attribute, and gets a new stamp.
  ASSERT_EQ(0, ::unlink((folder_ + "/b.tmp").c_str()));
  fd = Create("b.tmp");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(0u, ReadCreationStamp(fd));
  uint64_t fresh = EnsureCreationStamp(fd);
  EXPECT_NE(0u, fresh);
  EXPECT_NE(stamp, fresh);
  // A damaged attribute is no stamp.
  ASSERT_EQ(0, ::fsetxattr(fd, kStampAttribute, "12x", 3, 0));
  EXPECT_EQ(0u, ReadCreationStamp(fd));
  ::close(fd);
}

}  // namespace
}  // namespace vespar
