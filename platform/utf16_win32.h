#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace avendro {

// `utf8` as UTF-16 for a wide Win32 call; fails, naming `utf8`, when it is
// not valid UTF-8 (nothing is then handed to the system).
Status ToUtf16(const std::string& utf8, std::wstring* utf16);

// Text from a wide Win32 call as UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::wstring_view utf16);

}  // namespace avendro
