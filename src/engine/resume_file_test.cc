#include "src/engine/resume_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "src/engine/part_record.h"
#include "src/engine/resume_stamp.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"

namespace vespar {
namespace {

constexpr char16_t kTitle[] = u"Vespar Downloader";

class ResumeFileTest : public testing::Test {
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
    char pattern[] = "/tmp/vespar-resume-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
    location_ = ResumeLocationFor(root_ + "/Documents/", kTitle);
    downloads_ = FromUtf8(root_ + "/dl/");
    ASSERT_EQ(0, ::mkdir((root_ + "/dl").c_str(), 0755));
  }
  void TearDown() override {
    SetFileSystem(nullptr);
    std::string command = "rm -rf '" + root_ + "'";
    (void)std::system(command.c_str());
  }

  static std::string PartPath(std::u16string_view folder, const ResumeEntry& e) {
    return ToUtf8(folder) + ToUtf8(e.fileName) + ".tmp";
  }

  // A part file of `size` bytes in the download folder.
  std::string MakePartFile(const std::u16string& name, int64_t size) {
    std::string path = ToUtf8(downloads_) + ToUtf8(name) + ".tmp";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(0, ::ftruncate(fd, size));
    EnsureCreationStamp(fd);
    ::close(fd);
    return path;
  }

  static ResumeEntry Entry(const std::u16string& name, int32_t index, int64_t start,
                           int64_t end, int64_t current, int64_t size = 1000) {
    ResumeEntry e;
    e.partIndex = index;
    e.content = u"http://cdn.example/c/" + name;
    e.fileName = name;
    e.fileSize = size;
    e.state = PART_STOPPED;
    e.startOffset = start;
    e.endOffset = end;
    e.currentOffset = current;
    return e;
  }

  ResumeWriteStatus Write(const std::vector<ResumeEntry>& entries,
                          std::u16string_view folder = {},
                          const BeforeRenameHook& hook = {}) {
    return WriteResumeFile(location_, kTitle, folder.empty() ? downloads_ : folder,
                           entries, PartPath, hook);
  }

  ResumeReadResult Read(const std::vector<std::u16string>& names,
                        std::u16string_view current = u"/elsewhere/") {
    return ReadResumeFile(location_, kTitle, names, current, PartPath);
  }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  std::string root_;
  ResumeLocation location_;
  std::u16string downloads_;
};

TEST_F(ResumeFileTest, Locations) {
  ResumeLocation l = ResumeLocationFor("/home/p/Documents/", u"\uB2E4\uC6B4");
  EXPECT_EQ("/home/p/Documents/\xEB\x8B\xA4\xEC\x9A\xB4", l.folder);
  EXPECT_EQ(l.folder + "/\xEB\x8B\xA4\xEC\x9A\xB4.qzx", l.file);
  EXPECT_EQ(l.folder + "/\xEB\x8B\xA4\xEC\x9A\xB4.tmp", l.staging);
}

TEST_F(ResumeFileTest, EmptySetWritesAnEmptyFileThatResumesNothing) {
  ASSERT_TRUE(Write({}).ok());
  ASSERT_TRUE(Exists(location_.file));
  EXPECT_EQ("", Contents(location_.file));
  EXPECT_FALSE(Exists(location_.staging));
  ResumeReadResult r = Read({u"a.pak"});
  EXPECT_FALSE(r.belongs);
  EXPECT_TRUE(r.parts.empty());
}

TEST_F(ResumeFileTest, RoundTripResumesTheSameParts) {
  MakePartFile(u"a.pak", 600);
  MakePartFile(u"b.pak", 10);
  ResumeEntry a = Entry(u"a.pak", 0, 0, 999, 600);
  ResumeEntry b = Entry(u"b.pak", 0, 0, 9, 10, 10);
  b.state = PART_COMPLETE;
  ASSERT_TRUE(Write({a, b}).ok());
  std::string text = Contents(location_.file);
  EXPECT_NE(std::string::npos, text.find("FILEPATH=" + ToUtf8(downloads_) + "\r\n"));
  EXPECT_NE(std::string::npos, text.find("LOW_CRTIME="));

  ResumeReadResult r = Read({u"b.pak", u"a.pak"});
  EXPECT_TRUE(r.belongs);
  ASSERT_TRUE(r.folder.has_value());
  EXPECT_EQ(downloads_, *r.folder);
  ASSERT_EQ(2u, r.parts.size());
  EXPECT_EQ(u"a.pak", r.parts[0].fileName);
  EXPECT_EQ(600, r.parts[0].currentOffset);
  EXPECT_EQ(PART_STOPPED, r.parts[0].state);
  EXPECT_TRUE(r.parts[0].hasStamp);
  EXPECT_EQ(PART_COMPLETE, r.parts[1].state);
  EXPECT_EQ(2u, r.heldFiles.size());
  // The resume file stays while the program runs.
  EXPECT_EQ(text, Contents(location_.file));
}

TEST_F(ResumeFileTest, AnotherTitleResumesNothing) {
  MakePartFile(u"a.pak", 600);
  ASSERT_TRUE(WriteResumeFile(location_, u"Other Downloader", downloads_,
                              {Entry(u"a.pak", 0, 0, 999, 600)}, PartPath)
                  .ok());
  ResumeReadResult r = Read({u"a.pak"});
  EXPECT_FALSE(r.belongs);
  EXPECT_FALSE(r.folder.has_value());
  EXPECT_TRUE(r.parts.empty());
  EXPECT_TRUE(r.heldFiles.empty());
}

TEST_F(ResumeFileTest, FilepathNullKeepsTheCurrentFolder) {
  MakePartFile(u"a.pak", 600);
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 600)}).ok());
  std::string text = Contents(location_.file);
  std::string line = "FILEPATH=" + ToUtf8(downloads_);
  text.replace(text.find(line), line.size(), "FILEPATH=NULL");
  std::ofstream(location_.file, std::ios::binary | std::ios::trunc) << text;

  ResumeReadResult elsewhere = Read({u"a.pak"}, u"/nonexistent/");
  EXPECT_TRUE(elsewhere.belongs);
  EXPECT_FALSE(elsewhere.folder.has_value());
  EXPECT_TRUE(elsewhere.parts.empty());  // looked for under /nonexistent/

  ResumeReadResult here = Read({u"a.pak"}, downloads_);
  EXPECT_FALSE(here.folder.has_value());
  EXPECT_EQ(1u, here.parts.size());
}

TEST_F(ResumeFileTest, NewCreationStampDropsThePart) {
  std::string path = MakePartFile(u"a.pak", 600);
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 600)}).ok());
  ASSERT_EQ(1u, Read({u"a.pak"}).parts.size());

  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  uint64_t before = ReadCreationStamp(fd);
  ::close(fd);
  ASSERT_EQ(0, ::unlink(path.c_str()));
  MakePartFile(u"a.pak", 600);
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(before, ReadCreationStamp(fd));
  ::close(fd);

  ResumeReadResult r = Read({u"a.pak"});
  EXPECT_TRUE(r.belongs);
  EXPECT_TRUE(r.parts.empty());
}

TEST_F(ResumeFileTest, PartsOfOneFileShareOneHandle) {
  MakePartFile(u"a.pak", 1000);
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 500, 999, 700), Entry(u"a.pak", 1, 0, 499, 100),
                     Entry(u"b.pak", 0, 0, 9, 0, 10)})
                  .ok());
  MakePartFile(u"b.pak", 0);  // b.pak created after the write: not the same file
  ResumeReadResult r = Read({u"a.pak", u"b.pak"});
  ASSERT_EQ(2u, r.parts.size());
  EXPECT_EQ(0, r.parts[0].partIndex);
  EXPECT_EQ(1, r.parts[1].partIndex);
  // One for a.pak; b.pak is held although its part was dropped.
  ASSERT_EQ(2u, r.heldFiles.size());
  EXPECT_GE(r.heldFiles[0].fd(), 0);
  int open_before = 0;
  for (const HeldFile& f : r.heldFiles) open_before += fcntl(f.fd(), F_GETFD) != -1;
  EXPECT_EQ(2, open_before);
  int fd = r.heldFiles[0].fd();
  r.heldFiles.clear();
  EXPECT_EQ(-1, fcntl(fd, F_GETFD));  // closed with its holder
}

TEST_F(ResumeFileTest, NegativeLowHalfComparesEqual) {
  NoBirthTimeFileSystem fs;
  SetFileSystem(&fs);
  std::string path = MakePartFile(u"a.pak", 600);
  const uint64_t stamp = 0x01DC2B3CF0000000ull;  // low half 0xF0000000
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  std::string text = std::to_string(stamp);
  if (::fsetxattr(fd, kStampAttribute, text.data(), text.size(), 0) != 0) {
    ::close(fd);
    GTEST_SKIP() << "no user extended attributes here: " << errno;
  }
  ::close(fd);
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 600)}).ok());
  EXPECT_NE(std::string::npos,
            Contents(location_.file).find("LOW_CRTIME=-268435456\r\nHIGH_CRTIME=31206204\r\n"));
  ResumeReadResult r = Read({u"a.pak"});
  ASSERT_EQ(1u, r.parts.size());
  EXPECT_EQ(stamp, r.parts[0].stamp);
}

TEST_F(ResumeFileTest, DropsPartsThatCannotBeRight) {
  static const struct {
    const char* name;
    int64_t fileBytes;  // -1: no part file; -2: a folder in its place
    bool listed;
    int64_t current;
    int64_t end;
    bool resumed;
  } kCases[] = {
      {"sound", 600, true, 600, 999, true},
      {"nothing on disk claimed", 0, true, 0, 999, true},
      {"not in the download list", 600, false, 600, 999, false},
      {"part file gone", -1, true, 600, 999, false},
      {"a folder in its place", -2, true, 0, 999, false},
      {"part file shorter than the offset", 599, true, 600, 999, false},
      {"range past the file size", 600, true, 600, 1000, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string path = ToUtf8(downloads_) + "a.pak.tmp";
    (void)std::system(("rm -rf '" + path + "'").c_str());
    if (c.fileBytes >= 0) MakePartFile(u"a.pak", c.fileBytes);
    if (c.fileBytes == -2) {
      ASSERT_EQ(0, ::mkdir(path.c_str(), 0755));
    }
    // Write with the part file present so that a stamp is recorded.
    if (c.fileBytes == -1) MakePartFile(u"a.pak", 600);
    ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, c.end, c.current)}).ok());
    if (c.fileBytes == -1) {
      ASSERT_EQ(0, ::unlink(path.c_str()));
    }
    ResumeReadResult r = Read(c.listed ? std::vector<std::u16string>{u"a.pak"}
                                       : std::vector<std::u16string>{u"b.pak"});
    EXPECT_TRUE(r.belongs);
    EXPECT_EQ(c.resumed ? 1u : 0u, r.parts.size());
  }
}

TEST_F(ResumeFileTest, TruncatedFileResumesNothing) {
  MakePartFile(u"a.pak", 1000);
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 500, 999, 700), Entry(u"a.pak", 1, 0, 499, 100)})
                  .ok());
  const std::string whole = Contents(location_.file);
  ASSERT_EQ(2u, Read({u"a.pak"}).parts.size());
  // Cut inside the last section, before its offsets: what is left of the
  // first section would still look sound on its own.
  std::string cut = whole.substr(0, whole.rfind("STARTOFFSET"));
  std::ofstream(location_.file, std::ios::binary | std::ios::trunc) << cut;
  ResumeReadResult r = Read({u"a.pak"});
  EXPECT_FALSE(r.belongs);
  EXPECT_TRUE(r.parts.empty());
  EXPECT_TRUE(r.heldFiles.empty());
}

TEST_F(ResumeFileTest, SectionWithoutStampIsNeverResumed) {
  // No part file at write time: the section has no time lines.
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 0)}).ok());
  EXPECT_EQ(std::string::npos, Contents(location_.file).find("CRTIME"));
  MakePartFile(u"a.pak", 0);
  EXPECT_TRUE(Read({u"a.pak"}).parts.empty());
}

TEST_F(ResumeFileTest, KillBetweenStagingWriteAndRenameKeepsThePreviousFile) {
  MakePartFile(u"a.pak", 600);
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 300)}).ok());
  const std::string previous = Contents(location_.file);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Write({Entry(u"a.pak", 0, 0, 999, 600)}, {}, [] {
      ::kill(::getpid(), SIGKILL);
      return true;
    });
    _exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(SIGKILL, WTERMSIG(status));

  EXPECT_EQ(previous, Contents(location_.file));
  EXPECT_NE(std::string::npos, Contents(location_.staging).find("CURRENTOFFSET=600"));
  ResumeReadResult r = Read({u"a.pak"});
  ASSERT_EQ(1u, r.parts.size());
  EXPECT_EQ(300, r.parts[0].currentOffset);
  EXPECT_FALSE(Exists(location_.staging));  // the reader clears the leftover

  // The next checkpoint goes through as usual.
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 600)}).ok());
  EXPECT_EQ(600, Read({u"a.pak"}).parts.at(0).currentOffset);
}

TEST_F(ResumeFileTest, FailedWriteKeepsThePreviousFile) {
  MakePartFile(u"a.pak", 600);
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 300)}).ok());
  const std::string previous = Contents(location_.file);

  PosixFileSystem real;
  FaultInjectingFileSystem fs(&real);
  static const struct {
    const char* name;
    void (*arm)(FaultInjectingFileSystem&);
    int error;
  } kCases[] = {
      {"folder", [](FaultInjectingFileSystem& f) { f.FailMakeFolders(EACCES); }, EACCES},
      {"open", [](FaultInjectingFileSystem& f) { f.FailOpens(EMFILE); }, EMFILE},
      {"disk full", [](FaultInjectingFileSystem& f) { f.FailWrites(ENOSPC); }, ENOSPC},
      {"short write", [](FaultInjectingFileSystem& f) { f.FailWritesAfter(40, EIO); }, EIO},
  };
  SetFileSystem(&fs);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs.ClearFaults();
    c.arm(fs);
    ResumeWriteStatus s = Write({Entry(u"a.pak", 0, 0, 999, 600)});
    EXPECT_EQ(c.error, s.error) << s.what;
    EXPECT_EQ(previous, Contents(location_.file));
    EXPECT_FALSE(Exists(location_.staging));
  }
  fs.ClearFaults();
  EXPECT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 600)}).ok());
  EXPECT_NE(previous, Contents(location_.file));
}

TEST_F(ResumeFileTest, AllDoneRemovesTheFile) {
  ASSERT_TRUE(Write({Entry(u"a.pak", 0, 0, 999, 0)}).ok());
  ASSERT_TRUE(Exists(location_.file));
  EXPECT_TRUE(RemoveResumeFile(location_).ok());
  EXPECT_FALSE(Exists(location_.file));
  EXPECT_FALSE(Exists(location_.staging));
  EXPECT_TRUE(RemoveResumeFile(location_).ok());  // nothing left is fine
}

TEST_F(ResumeFileTest, CopyFileContents) {
  std::string source = root_ + "/source";
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  std::ofstream(source, std::ios::binary) << bytes;
  std::string destination = root_ + "/destination";
  std::ofstream(destination, std::ios::binary) << std::string(300000, 'x');
  EXPECT_EQ(0, CopyFileContents(source, destination));
  EXPECT_EQ(bytes, Contents(destination));
  EXPECT_EQ(1, CopyFileContents(root_ + "/missing", destination));
  EXPECT_EQ(1, CopyFileContents(source, root_ + "/no/such/folder/file"));
}

}  // namespace
}  // namespace vespar
