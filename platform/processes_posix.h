#pragma once

#include "platform/processes.h"

namespace avendro {

// Processes from /proc. The image name is the last component of the
// program's path, split on "/" and "\" so that a Windows program running
// under Wine is named as Windows names it.
class PosixProcessTable : public ProcessTable {
 public:
  Status List(std::vector<ProcessEntry>* out) override;
  Status Terminate(uint32_t id) override;
  uint32_t SelfId() override;
};

}  // namespace avendro
