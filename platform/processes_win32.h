#pragma once

#include "platform/processes.h"

namespace avendro {

// Processes through kernel32: a Toolhelp snapshot lists them with their
// image names in UTF-8, `started` is the creation time (a FILETIME);
// Terminate opens the process with access 0x1F0FFF and ends it with exit
// code 0.
class Win32ProcessTable : public ProcessTable {
 public:
  Status List(std::vector<ProcessEntry>* out) override;
  Status Terminate(const ProcessEntry& process) override;
  uint32_t SelfId() override;
};

}  // namespace avendro
