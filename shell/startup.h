#pragma once

#include <string>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "port/window_port.h"

namespace avendro {

// The window's load sequence, run before the window is first shown, on the
// work drive modu1->LetteraUnita. Returns the caption of the version label
// Label9.
std::string RunStartup(WindowPort& window, Platform& platform, Modu1* modu1);

}  // namespace avendro
