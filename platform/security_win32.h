#pragma once

#include <string>

#include "platform/status.h"

namespace avendro {

// Whether an account without administrator rights could change the file or
// folder at `path` (windows::StandardUsersCanWrite over its owner and DACL,
// read from the system). Fails, with the reason, when they cannot be read.
Status StandardUsersCanWritePath(const std::string& path, bool* writable);

// The account logged on to this program's session ("PC\mario"), whoever
// this program runs as: the one that started an installer before its
// prompt for administrator rights.
Status SessionAccount(std::string* account);

}  // namespace avendro
