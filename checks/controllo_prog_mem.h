#pragma once

#include <string>

#include "app/window_port.h"
#include "catalogue/catalogue.h"
#include "platform/processes.h"

namespace avendro {

// The running-instance check, run after every click on a box of aa1.
void ControlloProgMem(WindowPort& window, ProcessTable& processes, const NomiProgrammi& names);

}  // namespace avendro
