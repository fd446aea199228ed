#pragma once

#include <string>

#include "platform/status.h"

namespace avendro {

// Whether an account without administrator rights could change the file or
// folder at `path` (windows::StandardUsersCanWrite over its owner and DACL,
// read from the system). Fails, with the reason, when they cannot be read.
Status StandardUsersCanWritePath(const std::string& path, bool* writable);

// The first folder or file on `path` ("d:\a\b" looks at d:\a, then
// d:\a\b) that is a link anyone could have planted
// (windows::JudgeReparsePoint), or "" when there is none.
std::string UntrustedLinkOnPath(const std::string& path);

}  // namespace avendro
