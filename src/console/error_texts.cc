#include "src/console/error_texts.h"

#include <cstring>

#include "src/engine/messages.h"
#include "src/platform/code_page.h"

namespace vespar {
namespace {

constexpr int kConnectionReset = 10054;

std::u16string WithNumber(const char* prefix, int code) {
  return FromUtf8(std::string(prefix) + std::to_string(code));
}

}  // namespace

std::u16string EngineErrorText(int code, int writeError) {
  switch (code) {
    case 404: return u"파일이 없습니다.";
    case kErrorResolve: return u"호스트를 알 수 없습니다.";
    case kErrorProbeNoLength:
      return u"The server gave no usable size for a file (no status line or no length).";
    case kErrorWriteFailed: {
      std::u16string text = u"A part file could not be written";
      if (writeError != 0) text += u": " + FromUtf8(std::strerror(writeError));
      return text + u". The download resumes once the cause is gone.";
    }
    case kErrorOpenPartFile: {
      std::u16string text = u"A part file could not be opened";
      if (writeError != 0) text += u": " + FromUtf8(std::strerror(writeError));
      return text + u". The download resumes once the cause is gone.";
    }
    case kErrorFinalName:
      return u"A downloaded file could not be given its final name; the part files are kept.";
    case kErrorLaunchOutside:
      return u"The launch file lies outside the download folder; the folder is opened instead.";
    case kErrorRangeRefused: return u"The server did not honour the requested byte range.";
    case kErrorUnsafePath:
      return u"A file or folder name from the server would leave the download folder; "
             u"nothing was written.";
    case kErrorThreadStart: return u"A download thread could not be started.";
    default: return WithNumber("Network Error Code Number : ", code);
  }
}

std::u16string SocketErrorText(int code) {
  if (code == 0 || code == kConnectionReset) return {};
  return WithNumber("Last Error Code Number : ", code);
}

}  // namespace vespar
