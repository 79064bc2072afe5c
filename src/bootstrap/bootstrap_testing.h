#pragma once

// Test helpers for the bootstrap: a clean slate of the process-wide values
// and a scripted prompt that records every message box.

#include "src/bootstrap/globals.h"
#include "src/platform/prompt.h"

namespace vespar {

inline void ResetBootstrapGlobalsForTesting() {
  for (std::u16string* value :
       {&ConfigurationText, &RegionCode, &LanguageModuleName, &FolderLayoutFlag,
        &ContentBaseUrl, &LaunchFileName, &ScriptUrl, &ScriptErrorText, &ApplicationTitle}) {
    value->clear();
  }
  DownloadBases.clear();
  DownloadFolders.clear();
  DownloadNames.clear();
}

// Installs itself as the process prompt for its lifetime and resets the
// bootstrap values on both ends.
class RecordingPromptScope {
 public:
  RecordingPromptScope() {
    ResetBootstrapGlobalsForTesting();
    SetPrompt(&prompt_);
  }
  ~RecordingPromptScope() {
    SetPrompt(nullptr);
    ResetBootstrapGlobalsForTesting();
  }
  RecordingPromptScope(const RecordingPromptScope&) = delete;
  RecordingPromptScope& operator=(const RecordingPromptScope&) = delete;

  std::vector<ScriptedPrompt::Asked> asked() const { return prompt_.asked(); }

 private:
  ScriptedPrompt prompt_;
};

}  // namespace vespar
