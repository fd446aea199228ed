#include "platform/launcher_posix.h"

namespace avendro {

Status PosixLauncher::Start(const std::string& path, WindowStyle, uint64_t*) {
  return Status::Error(path + ": avvio non implementato");
}

bool PosixLauncher::Running(uint64_t) { return false; }

}  // namespace avendro
