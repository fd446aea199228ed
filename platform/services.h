#pragma once

#include <memory>
#include <string_view>

#include "platform/platform.h"
#include "platform/status.h"

namespace avendro {

// The services of the system the program was built for, owned together.
class PlatformServices {
 public:
  virtual ~PlatformServices() = default;
  virtual Platform& platform() = 0;
};

// Creates the services of this machine, for a program whose work folder is
// `work_folder` after the work drive's letter (Windows' launcher guards it).
// Fails, naming what is missing, when the system cannot provide them (under
// POSIX: no Wine prefix).
Status MakePlatformServices(std::string_view work_folder, std::unique_ptr<PlatformServices>* out);

}  // namespace avendro
