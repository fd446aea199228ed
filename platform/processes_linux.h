#pragma once

#include "platform/processes.h"

namespace avendro {

// Processes from /proc. A process is named after the program file it runs
// (/proc/<pid>/exe), since argv[0] is whatever its starter chose. Wine's
// loader is the exception: when it belongs to root or to this program's
// user, the process is a Windows program and goes by the last component of
// argv[0], split on "/" and "\", as Windows names it. A process whose
// program file cannot be read (another user's, a kernel thread) keeps the
// name of its command line (or its kernel name) and is marked unverified.
// `started` is the start time of /proc/<pid>/stat; Terminate sends SIGKILL
// through a pidfd.
class LinuxProcessTable : public ProcessTable {
 public:
  Status List(std::vector<ProcessEntry>* out) override;
  Status Terminate(const ProcessEntry& process) override;
  uint32_t SelfId() override;
};

}  // namespace avendro
