#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/status.h"

namespace avendro {

// The services of the system the program was built for, owned together.
class PlatformServices {
 public:
  virtual ~PlatformServices() = default;
  virtual Platform& platform() = 0;
};

// Creates the services of this machine. Fails, naming what is missing, when
// the system cannot provide them (under POSIX: no Wine prefix).
Status MakePlatformServices(std::unique_ptr<PlatformServices>* out);

}  // namespace avendro
