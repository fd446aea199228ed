#include "platform/status.h"

#include <cstring>

namespace avendro {

Status ErrnoError(const std::string& what, int err) {
  return Status::Error(what + ": " + std::strerror(err));
}

}  // namespace avendro
