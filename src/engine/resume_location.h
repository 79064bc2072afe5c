#pragma once

// Where the resume file lives for this user and this program.

#include <string>

#include "src/engine/resume_file.h"

namespace vespar {

// The user's documents folder followed by "/". Without one (no documents
// folder and no home), the state folder is used; without that, the current
// folder ("./").
std::string GetDocumentsFolder();

// The resume location for GetDocumentsFolder() and ApplicationTitle.
ResumeLocation DefaultResumeLocation();

}  // namespace vespar
