#include "src/engine/resume_location.h"

#include "src/bootstrap/globals.h"
#include "src/platform/paths.h"

namespace vespar {

std::string GetDocumentsFolder() {
  std::string folder = DocumentsFolder();
  if (folder.empty()) folder = StateFolder();
  if (folder.empty()) return "./";
  if (folder.back() != '/') folder.push_back('/');
  return folder;
}

ResumeLocation DefaultResumeLocation() {
  return ResumeLocationFor(GetDocumentsFolder(), ApplicationTitle);
}

}  // namespace vespar
