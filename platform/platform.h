#pragma once

#include "platform/file_details.h"
#include "platform/file_system.h"
#include "platform/launcher.h"
#include "platform/processes.h"

namespace avendro {

// The services of the operating system that the program uses.
struct Platform {
  FileSystem& files;
  ProcessTable& processes;
  Launcher& launcher;
  FileDetailsSource& details;
};

}  // namespace avendro
