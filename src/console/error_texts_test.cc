#include "src/console/error_texts.h"

#include <errno.h>

#include <gtest/gtest.h>

namespace vespar {
namespace {

TEST(EngineErrorTextTest, EveryCodeHasItsText) {
  static const struct {
    int code;
    int writeError;
    std::u16string_view text;
  } kCases[] = {
      {404, 0, u"파일이 없습니다."},
      {8, 0, u"호스트를 알 수 없습니다."},
      {21, 0, u"The server gave no usable size for a file (no status line or no length)."},
      {22, ENOSPC,
       u"A part file could not be written: No space left on device. "
       u"The download resumes once the cause is gone."},
      {22, 0, u"A part file could not be written. The download resumes once the cause is gone."},
      {23, 0, u"A downloaded file could not be given its final name; the part files are kept."},
      {24, 0, u"The launch file lies outside the download folder; the folder is opened instead."},
      {25, 0, u"The server did not honour the requested byte range."},
      {26, 0,
       u"A file or folder name from the server would leave the download folder; "
       u"nothing was written."},
      {27, 0, u"A download thread could not be started."},
      {9, EROFS,
       u"A part file could not be opened: Read-only file system. "
       u"The download resumes once the cause is gone."},
      {500, 0, u"Network Error Code Number : 500"},
      {-3, 0, u"Network Error Code Number : -3"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(EngineErrorText(c.code, c.writeError), c.text);
  }
}

TEST(SocketErrorTextTest, ZeroAndResetAreSilent) {
  static const struct {
    int code;
    std::u16string_view text;
  } kCases[] = {
      {0, u""},
      {10054, u""},
      {10060, u"Last Error Code Number : 10060"},
      {111, u"Last Error Code Number : 111"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(SocketErrorText(c.code), c.text);
  }
}

}  // namespace
}  // namespace vespar
