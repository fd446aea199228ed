#pragma once

#include <string>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "port/window_port.h"

namespace avendro {

// The window's load sequence, run before the window is first shown.
// `drive_text` is the current entry of the drive list Drive1 ("d:" and maybe
// a volume label); its first character becomes LetteraUnita. Returns the
// caption of the version label Label9.
std::string RunStartup(WindowPort& window, Platform& platform, const std::string& drive_text,
                       Modu1* modu1);

}  // namespace avendro
