#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace avendro {

struct ProcessEntry {
  uint32_t id = 0;
  std::string image_name;  // as Windows names it: "varnok.exe", no folder
};

// The running processes of the machine.
class ProcessTable {
 public:
  virtual ~ProcessTable() = default;

  // Every running process, in the order the system gives them. Processes
  // that have ended but are not yet collected by their parent are left out.
  virtual Status List(std::vector<ProcessEntry>* out) = 0;

  // Stops the process at once (it cannot catch or delay it). Fails, naming
  // the process and the reason, when it cannot be opened or stopped, when it
  // has already gone, and always for this program's own process.
  virtual Status Terminate(uint32_t id) = 0;

  // The id of this program's own process.
  virtual uint32_t SelfId() = 0;
};

}  // namespace avendro
