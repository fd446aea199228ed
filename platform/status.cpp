#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace avendro {

StatusCode KindOfErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return StatusCode::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return StatusCode::kRefused;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return StatusCode::kOutOfSpace;
    case ECANCELED:
      return StatusCode::kCancelled;
    default:
      return StatusCode::kFailed;
  }
}

Status ErrnoError(const std::string& what, int err) {
  return Status::Error(what + ": " + std::strerror(err), KindOfErrno(err));
}

}  // namespace avendro
