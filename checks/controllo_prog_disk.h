#pragma once

#include "platform/file_system.h"
#include "port/window_port.h"

namespace avendro {

// The installed-product scan: makes sure the work folder exists, then logs
// and marks green every program of slots 0..15 whose executable is on the
// work drive, in slot order. A failing query or folder creation ends the
// scan with one line naming the path and the reason.
void ControlloProgDisk(WindowPort& window, FileSystem& files, char lettera);

}  // namespace avendro
