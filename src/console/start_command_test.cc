#include "src/console/start_command.h"

#include <errno.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "src/platform/file_system.h"

namespace vespar {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kGB = 1000LL * 1000 * 1000;

TEST(EnoughSpaceTest, BytesStillToComeMustBeSmallerThanTheFreeSpace) {
  static const struct {
    int64_t total;
    int64_t onDisk;
    uint64_t free;
    bool enough;
  } kCases[] = {
      {10 * kGB, 0, 10 * kGB, false},  // exactly the free space is refused
      {10 * kGB, 0, 10 * kGB + 1, true},
      {10 * kGB, 0, 0, false},
      // A resumed download needs room only for what has not arrived.
      {10 * kGB, 9 * kGB, 2 * kGB, true},
      {10 * kGB, 9 * kGB, 1 * kGB, false},
      {100, 100, 0, true},  // everything is on disk
      {0, 0, 0, true},      // only empty files
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.total << " " << c.onDisk << " " << c.free);
    EXPECT_EQ(EnoughSpace(c.total, c.onDisk, c.free), c.enough);
  }
}

// The real file system, remembering which path the free space was asked for
// and answering a set number.
class RecordingFileSystem : public PosixFileSystem {
 public:
  int FreeSpace(const std::string& path, uint64_t* bytes) override {
    asked = path;
    if (error != 0) return error;
    *bytes = free;
    return 0;
  }
  std::string asked;
  uint64_t free = 0;
  int error = 0;
};

class StartCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-start-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    SetFileSystem(&fs_);
  }
  void TearDown() override {
    SetFileSystem(nullptr);
    fs::remove_all(root_);
  }

  RecordingFileSystem fs_;
  std::string root_;
};

TEST_F(StartCommandTest, FreeSpaceOfAFolderNotMadeYetIsItsNearestParents) {
  fs::create_directories(root_ + "/games");
  static const struct {
    std::string folder;
    std::string asked;
  } kCases[] = {
      {root_ + "/games/", root_ + "/games"},
      {root_ + "/games/vespar/client/", root_ + "/games"},
      {root_ + "/missing", root_},
      {"/", "/"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.folder);
    uint64_t bytes = 0;
    fs_.free = 777;
    EXPECT_EQ(FreeSpaceFor(c.folder, &bytes), 0);
    EXPECT_EQ(fs_.asked, c.asked);
    EXPECT_EQ(bytes, 777u);
  }
  uint64_t bytes = 0;
  EXPECT_EQ(FreeSpaceFor("relative/folder", &bytes), EINVAL);
}

TEST_F(StartCommandTest, CheckSpaceThroughTheFileSeam) {
  const std::string folder = root_ + "/download/";
  fs_.free = 5000;
  EXPECT_EQ(CheckSpace(folder, 4999, 0), SpaceCheck::kEnough);
  EXPECT_EQ(CheckSpace(folder, 5000, 0), SpaceCheck::kNotEnough);
  EXPECT_EQ(CheckSpace(folder, 9000, 4500), SpaceCheck::kEnough);
  fs_.error = EIO;
  int error = 0;
  EXPECT_EQ(CheckSpace(folder, 1, 0, &error), SpaceCheck::kUnknown);
  EXPECT_EQ(error, EIO);
}

TEST(ChooseFolderTest, SavedFolderRestoresAnyOtherStartsOver) {
  using Saved = FolderChoice::Saved;
  static const struct {
    std::u16string_view chosen;
    std::u16string_view saved;
    int64_t received;
    Saved expected;
    bool reset;
  } kCases[] = {
      {u"/games/", u"/games/", 0, Saved::kRestore, false},
      {u"/games/", u"/games/", 500, Saved::kRestore, false},
      {u"/other/", u"/games/", 500, Saved::kDiscard, true},
      // Nothing received yet: the folder changes, nothing is probed again.
      {u"/other/", u"/games/", 0, Saved::kKeep, true},
      {u"/other/", u"", 0, Saved::kKeep, true},
      // Case matters, as it does for the file system.
      {u"/Games/", u"/games/", 10, Saved::kDiscard, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.received);
    FolderChoice choice = ChooseFolder(c.chosen, c.saved, c.received);
    EXPECT_EQ(choice.saved, c.expected);
    EXPECT_EQ(choice.resetCurrentItem, c.reset);
  }
}

}  // namespace
}  // namespace vespar
