#pragma once

// Process-wide configuration values and the download list. Written only by
// start-up on the main thread, before the manager thread handles any item;
// read afterwards without locks (the posted messages that hand items to the
// engine order the writes before the reads). The one exception is
// LaunchFileName, which the completion step may rename on the manager thread
// before it reports that everything is complete.

#include <cstdint>
#include <string>
#include <vector>

#include "src/platform/event.h"

namespace vespar {

extern std::u16string ConfigurationUrl;
extern std::u16string ConfigurationText;
extern std::u16string RegionCode;
extern std::u16string LanguageModuleName;
extern std::u16string FolderLayoutFlag;
extern std::u16string ContentBaseUrl;  // the base set last
extern std::u16string LaunchFileName;
extern std::u16string ScriptUrl;
extern std::u16string ScriptErrorText;

// String 10001: window title, message-box caption, resume file name, lock name.
extern std::u16string ApplicationTitle;
extern uint16_t SystemLanguageId;

// The download list: entry i stands for DownloadBases[i] + DownloadFolders[i]
// + DownloadNames[i]. Each entry keeps the content base it was listed under,
// so a second list (the contents script's) cannot change the URLs of the
// first one's entries.
extern std::vector<std::u16string> DownloadBases;
extern std::vector<std::u16string> DownloadFolders;
extern std::vector<std::u16string> DownloadNames;

// Full URL of entry i.
std::u16string DownloadEntryUrl(size_t i);

// Set by start-up once the download list is final (after the contents
// script), so readers on other threads may read it.
ManualResetEvent& DownloadListFinished();

}  // namespace vespar
