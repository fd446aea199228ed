#include "platform/processes_posix.h"

#include <unistd.h>

namespace avendro {

Status PosixProcessTable::List(std::vector<ProcessEntry>* out) {
  out->clear();
  return Status::Ok();
}

Status PosixProcessTable::Terminate(uint32_t id) {
  return Status::Error("processo " + std::to_string(id) + ": non implementato");
}

uint32_t PosixProcessTable::SelfId() { return static_cast<uint32_t>(getpid()); }

}  // namespace avendro
