#include "src/platform/file_system.h"

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace vespar {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-fs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  PosixFileSystem fs_;
  std::string dir_;
};

TEST_F(FileSystemTest, OpenKeepsExistingBytesAndWritesAtOffsets) {
  Write(Path("a.tmp"), "0123456789");
  int fd = -1;
  ASSERT_EQ(fs_.OpenForWrite(Path("a.tmp"), OpenMode::kCreateOrKeep, &fd), 0);
  size_t written = 0;
  EXPECT_EQ(fs_.WriteAt(fd, "AB", 2, 4, &written), 0);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(fs_.WriteAt(fd, "Z", 1, 12, &written), 0);  // past the end: a hole
  EXPECT_EQ(fs_.SyncData(fd), 0);
  EXPECT_EQ(fs_.Close(fd), 0);
  EXPECT_EQ(Read(Path("a.tmp")), std::string("0123AB6789\0\0Z", 13));
}

TEST_F(FileSystemTest, OpenModes) {
  int fd = -1;
  EXPECT_EQ(fs_.OpenForWrite(Path("missing"), OpenMode::kExistingOnly, &fd), ENOENT);
  ASSERT_EQ(fs_.OpenForWrite(Path("new"), OpenMode::kCreateOrKeep, &fd), 0);
  EXPECT_EQ(fs_.Truncate(fd, 5), 0);
  fs_.Close(fd);
  int64_t size = -1;
  EXPECT_EQ(fs_.FileSize(Path("new"), &size), 0);
  EXPECT_EQ(size, 5);
  ASSERT_EQ(fs_.OpenForWrite(Path("new"), OpenMode::kExistingOnly, &fd), 0);
  fs_.Close(fd);
  EXPECT_EQ(fs_.FileSize(Path("missing"), &size), ENOENT);
}

TEST_F(FileSystemTest, RenameNeverReplaces) {
  Write(Path("from"), "new");
  Write(Path("kept"), "old");
  EXPECT_EQ(fs_.RenameNoReplace(Path("from"), Path("kept")), EEXIST);
  EXPECT_EQ(Read(Path("kept")), "old");
  EXPECT_EQ(Read(Path("from")), "new");
  EXPECT_EQ(fs_.RenameNoReplace(Path("from"), Path("free")), 0);
  EXPECT_EQ(Read(Path("free")), "new");
  EXPECT_FALSE(fs_.Exists(Path("from")));
  EXPECT_EQ(fs_.RenameNoReplace(Path("from"), Path("other")), ENOENT);
}

TEST_F(FileSystemTest, MakeFoldersAndRemove) {
  EXPECT_EQ(fs_.MakeFolders(Path("a/b//c/")), 0);
  EXPECT_TRUE(fs_.Exists(Path("a/b/c")));
  EXPECT_EQ(fs_.MakeFolders(Path("a/b/c")), 0);  // existing is fine
  Write(Path("a/file"), "x");
  EXPECT_EQ(fs_.MakeFolders(Path("a/file/sub")), ENOTDIR);
  EXPECT_EQ(fs_.Remove(Path("a/file")), 0);
  EXPECT_EQ(fs_.Remove(Path("a/file")), ENOENT);
}

TEST_F(FileSystemTest, FreeSpaceOfTheVolume) {
  uint64_t bytes = 0;
  EXPECT_EQ(fs_.FreeSpace(dir_, &bytes), 0);
  EXPECT_GT(bytes, 0u);
  EXPECT_EQ(fs_.FreeSpace(Path("missing/folder"), &bytes), ENOENT);
}

TEST_F(FileSystemTest, BirthTimeStaysWhileWrittenAndChangesWhenCreatedAnew) {
  int fd = -1;
  ASSERT_EQ(fs_.OpenForWrite(Path("p.tmp"), OpenMode::kCreateOrKeep, &fd), 0);
  int64_t first = 0;
  ASSERT_EQ(fs_.BirthTime(fd, &first), 0);
  if (first == 0) {
    fs_.Close(fd);
    GTEST_SKIP() << "this file system keeps no birth time";
  }
  size_t written = 0;
  fs_.WriteAt(fd, "data", 4, 0, &written);
  fs_.Close(fd);
  ASSERT_EQ(fs_.OpenForWrite(Path("p.tmp"), OpenMode::kExistingOnly, &fd), 0);
  int64_t again = 0;
  fs_.BirthTime(fd, &again);
  fs_.Close(fd);
  EXPECT_EQ(again, first);

  ASSERT_EQ(fs_.Remove(Path("p.tmp")), 0);
  // A file created anew has a later birth time (the clock's resolution is far
  // finer than the time the calls above take, but wait for a tick anyway).
  int64_t renewed = first;
  for (int i = 0; i < 1000 && renewed == first; ++i) {
    fs_.Remove(Path("p.tmp"));
    ASSERT_EQ(fs_.OpenForWrite(Path("p.tmp"), OpenMode::kCreateOrKeep, &fd), 0);
    fs_.BirthTime(fd, &renewed);
    fs_.Close(fd);
  }
  EXPECT_NE(renewed, first);
}

TEST_F(FileSystemTest, InjectedWriteFaultsWriteUpToTheBudget) {
  static const struct {
    int64_t budget;
    size_t size;
    int error;
    int expected_result;
    size_t expected_written;
  } kCases[] = {
      {0, 8, ENOSPC, ENOSPC, 0},
      {3, 8, ENOSPC, ENOSPC, 3},  // a short write that then fails
      {8, 8, EROFS, 0, 8},        // exactly the budget still succeeds
      {100, 8, EACCES, 0, 8},
      {0, 8, 0, 0, 8},            // no fault armed
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "budget " << c.budget << " error " << c.error);
    FaultInjectingFileSystem faulty(&fs_);
    faulty.FailWritesAfter(c.budget, c.error);
    int fd = -1;
    ASSERT_EQ(faulty.OpenForWrite(Path("f"), OpenMode::kCreateOrKeep, &fd), 0);
    faulty.Truncate(fd, 0);
    size_t written = 99;
    EXPECT_EQ(faulty.WriteAt(fd, "abcdefgh", c.size, 0, &written), c.expected_result);
    EXPECT_EQ(written, c.expected_written);
    faulty.Close(fd);
    EXPECT_EQ(Read(Path("f")), std::string("abcdefgh", c.expected_written));
  }
}

TEST_F(FileSystemTest, InjectedFaultsOfOtherOperationsAndTheCurrentInstance) {
  FaultInjectingFileSystem faulty(&fs_);
  SetFileSystem(&faulty);
  Write(Path("x"), "x");
  faulty.FailRenames(EACCES);
  faulty.FailRemoves(EBUSY);
  faulty.FailOpens(EMFILE);
  faulty.FailMakeFolders(EROFS);
  faulty.SetFreeSpace(1234);
  int fd = -1;
  uint64_t bytes = 0;
  EXPECT_EQ(CurrentFileSystem().RenameNoReplace(Path("x"), Path("y")), EACCES);
  EXPECT_EQ(CurrentFileSystem().Remove(Path("x")), EBUSY);
  EXPECT_EQ(CurrentFileSystem().OpenForWrite(Path("x"), OpenMode::kExistingOnly, &fd),
            EMFILE);
  EXPECT_EQ(CurrentFileSystem().MakeFolders(Path("d")), EROFS);
  EXPECT_EQ(CurrentFileSystem().FreeSpace(dir_, &bytes), 0);
  EXPECT_EQ(bytes, 1234u);
  faulty.ClearFaults();
  EXPECT_EQ(CurrentFileSystem().RenameNoReplace(Path("x"), Path("y")), 0);
  SetFileSystem(nullptr);
  EXPECT_EQ(&CurrentFileSystem() == &faulty, false);
}

}  // namespace
}  // namespace vespar
