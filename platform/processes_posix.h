#pragma once

#include "platform/processes.h"

namespace avendro {

// Processes from /proc. The image name is the last component of argv[0],
// split on "/" and "\" so that a Windows program running under Wine is named
// as Windows names it; a process with an empty command line (a kernel
// thread) goes by its kernel name. Terminate sends SIGKILL.
class PosixProcessTable : public ProcessTable {
 public:
  Status List(std::vector<ProcessEntry>* out) override;
  Status Terminate(uint32_t id) override;
  uint32_t SelfId() override;
};

}  // namespace avendro
