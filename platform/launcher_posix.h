#pragma once

#include "platform/file_system.h"
#include "platform/launcher.h"

namespace avendro {

// Starts Windows programs and batch scripts through Wine ("wine" on the
// PATH, in the same prefix).
class PosixLauncher : public Launcher {
 public:
  Status Start(const std::string& path, WindowStyle style, uint64_t* task) override;
  bool Running(uint64_t task) override;
};

}  // namespace avendro
