#include "src/engine/resume_location.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "src/bootstrap/globals.h"

namespace vespar {
namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ResumeLocationTest, DocumentsFolderAndTitle) {
  ScopedEnv documents("XDG_DOCUMENTS_DIR", "/home/p/\xEB\xAC\xB8\xEC\x84\x9C");
  EXPECT_EQ("/home/p/\xEB\xAC\xB8\xEC\x84\x9C/", GetDocumentsFolder());

  std::u16string saved = ApplicationTitle;
  ApplicationTitle = u"Vespar Downloader";
  ResumeLocation l = DefaultResumeLocation();
  ApplicationTitle = saved;
  EXPECT_EQ("/home/p/\xEB\xAC\xB8\xEC\x84\x9C/Vespar Downloader/Vespar Downloader.qzx",
            l.file);
  EXPECT_EQ("/home/p/\xEB\xAC\xB8\xEC\x84\x9C/Vespar Downloader/Vespar Downloader.tmp",
            l.staging);
}

}  // namespace
}  // namespace vespar
