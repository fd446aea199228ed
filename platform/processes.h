#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace avendro {

// Every member has an initializer, so that an entry may be written with its
// first members only: {id, "varnok.exe"}.
struct ProcessEntry {
  uint32_t id = 0;
  std::string image_name{};  // as Windows names it: "varnok.exe", no folder
  // When the process started, in the system's own units; it tells the listed
  // process from a later one given the same id. 0 when it could not be read.
  uint64_t started = 0;
  // Why `image_name` could not be checked against the program the process
  // runs, ready for the log; empty when it was. Any process may call itself
  // anything, so one that is not verified is never stopped by name.
  std::string unverified{};
};

// The running processes of the machine.
class ProcessTable {
 public:
  virtual ~ProcessTable() = default;

  // Every running process, in the order the system gives them. Processes
  // that have ended but are not yet collected by their parent are left out.
  virtual Status List(std::vector<ProcessEntry>* out) = 0;

  // Stops the listed process at once (it cannot catch or delay it), but only
  // while its id still belongs to it (same `started`; on Windows, where ids
  // are given out again at once, never when `started` is not known).
  // Ok when it has ended by itself meanwhile, also when its id now belongs to
  // another process, which is left alone. Fails, naming the process and the
  // reason, when it cannot be opened or stopped, and always for this
  // program's own process.
  virtual Status Terminate(const ProcessEntry& process) = 0;

  // The id of this program's own process.
  virtual uint32_t SelfId() = 0;
};

}  // namespace avendro
