#pragma once

#include <string>

#include "platform/file_details.h"

namespace avendro {

// The caption of Label9: "R. 1.0.1 del " and the date of C:\drubel\setup.exe,
// or "" when anything goes wrong.
std::string VersionLabel(FileDetailsSource& details);

}  // namespace avendro
