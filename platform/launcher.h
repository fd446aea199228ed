#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/status.h"

namespace avendro {

// Window styles of a started program.
enum class WindowStyle : int {
  kMinimizedFocus = 2,
  kMaximizedFocus = 3,
};

// Starts programs and batch scripts without waiting for them.
class Launcher {
 public:
  virtual ~Launcher() = default;

  // Starts the program or script at the Windows path `path`, with the
  // folder that holds it as its current folder. On success
  // `*task` identifies the started task (never 0). Fails, with the reason,
  // when it cannot be started.
  virtual Status Start(const std::string& path, WindowStyle style, uint64_t* task) = 0;

  // True while the task started by Start has not ended.
  virtual bool Running(uint64_t task) = 0;

  // The exit code of a task that has ended; none while it runs, when the
  // system could not tell it (a program killed by a signal), or for a task
  // this launcher did not start.
  virtual std::optional<uint32_t> ExitCode(uint64_t task) = 0;

  // Scripts outlive the Avendro that started them (a night's command line
  // waits for them only so long), and the next Avendro on the drive must
  // not rewrite one that still runs. Marks `task`, started from the script
  // file `key` (its native path), as running for every Avendro of this
  // machine for as long as it runs: the record belongs to the script's
  // process, not to this program.
  virtual void ShareRunning(const std::string& key, uint64_t task) {
    (void)key;
    (void)task;
  }

  // Whether a script of the file `key` that an Avendro of this machine,
  // this one or an earlier one, marked with ShareRunning still runs.
  virtual bool RunningAnywhere(const std::string& key) {
    (void)key;
    return false;
  }
};

}  // namespace avendro
