#pragma once

// Shared by the configuration and contents-script targets: the download list
// is built from server text without touching the network (lists that would
// crawl a folder listing are only parsed), then every entry must name a path
// inside the download folder.

#include <string>
#include <string_view>

#include "src/bootstrap/bootstrap_testing.h"
#include "src/bootstrap/content_list.h"
#include "src/bootstrap/globals.h"
#include "src/platform/safe_names.h"
#include "src/platform/prompt.h"
#include "tests/fuzz/fuzz_check.h"

namespace vespar {

// Answers every box at once and keeps nothing, so a long run does not grow.
// Messages carry server text and must still be one printable line.
class FuzzPrompt : public Prompt {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption,
                   PromptButtons buttons) override {
    for (char16_t c : text) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    return buttons == PromptButtons::kYesNo ? PromptAnswer::kNo : PromptAnswer::kOk;
  }
};

inline void InstallFuzzPrompt() {
  static FuzzPrompt prompt;
  SetPrompt(&prompt);
}

// True when building the list from `url` would fetch a folder listing.
inline bool ListCrawls(std::u16string_view url) {
  for (const ContentEntry& entry : ParseContentList(url).entries) {
    if (entry.name == kEveryFileName) return true;
  }
  return false;
}

// The download list as built: every entry stays inside the download folder.
inline void CheckDownloadList() {
  FUZZ_CHECK(DownloadBases.size() == DownloadNames.size());
  FUZZ_CHECK(DownloadFolders.size() == DownloadNames.size());
  for (size_t i = 0; i < DownloadNames.size(); ++i) {
    FUZZ_CHECK(IsSafeRelativePath(DownloadFolders[i]));
    FUZZ_CHECK(IsSafeFileName(DownloadNames[i]));
  }
}

}  // namespace vespar
