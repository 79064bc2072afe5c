#include "src/bootstrap/globals.h"

namespace vespar {

std::u16string ConfigurationUrl;
std::u16string ConfigurationText;
std::u16string RegionCode;
std::u16string LanguageModuleName;
std::u16string FolderLayoutFlag;
std::u16string ContentBaseUrl;
std::u16string LaunchFileName;
std::u16string ScriptUrl;
std::u16string ScriptErrorText;
std::u16string ApplicationTitle;
uint16_t SystemLanguageId = 0;

std::vector<std::u16string> DownloadBases;
std::vector<std::u16string> DownloadFolders;
std::vector<std::u16string> DownloadNames;

std::u16string DownloadEntryUrl(size_t i) {
  if (i >= DownloadNames.size() || i >= DownloadFolders.size()) return {};
  std::u16string base = i < DownloadBases.size() ? DownloadBases[i] : ContentBaseUrl;
  return base + DownloadFolders[i] + DownloadNames[i];
}

ManualResetEvent& DownloadListFinished() {
  static ManualResetEvent event;
  return event;
}

}  // namespace vespar
