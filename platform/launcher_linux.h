#pragma once

#include <sys/types.h>

#include <memory>

#include "platform/file_system.h"
#include "platform/launcher.h"

namespace avendro {

// Starts Windows programs and batch scripts through Wine ("wine" on the
// PATH, in the same prefix): "wine start /wait /max PATH" for a maximised
// window, "/min" for a minimised one. The wine process lives as long as the
// started program, so Running tells when that has ended. The program never
// waits for it; each child is reaped as soon as it ends, by a thread of its
// own, so none lingers as a zombie, even after the launcher is gone.
class LinuxLauncher : public Launcher {
 public:
  LinuxLauncher();

  Status Start(const std::string& path, WindowStyle style, uint64_t* task) override;
  bool Running(uint64_t task) override;
  std::optional<uint32_t> ExitCode(uint64_t task) override;
  // A file per script in $XDG_RUNTIME_DIR/avendro (else /tmp/avendro-<uid>)
  // names the wine process and its start time; the script runs while that
  // very process does.
  void ShareRunning(const std::string& key, uint64_t task) override;
  bool RunningAnywhere(const std::string& key) override;

 private:
  // The children started and not yet reaped; shared with their waiters,
  // which may outlive the launcher.
  struct Children;
  std::shared_ptr<Children> children_;
};

}  // namespace avendro
