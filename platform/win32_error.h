#pragma once

#include <string>

#include "platform/status.h"

namespace avendro {

// "<what>: <the system's text for `code`>", for a GetLastError() code or an
// HRESULT.
Status Win32Error(const std::string& what, unsigned long code);

}  // namespace avendro
