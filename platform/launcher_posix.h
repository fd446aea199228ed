#pragma once

#include <sys/types.h>

#include <set>

#include "platform/file_system.h"
#include "platform/launcher.h"

namespace avendro {

// Starts Windows programs and batch scripts through Wine ("wine" on the
// PATH, in the same prefix): "wine start /wait /max PATH" for a maximised
// window, "/min" for a minimised one. The wine process lives as long as the
// started program, so Running tells when that has ended. The program never
// waits for it; ended children are reaped as they are noticed.
class PosixLauncher : public Launcher {
 public:
  Status Start(const std::string& path, WindowStyle style, uint64_t* task) override;
  bool Running(uint64_t task) override;

 private:
  // Reaps every child that has ended.
  void Reap();

  std::set<pid_t> children_;  // started and not yet reaped
};

}  // namespace avendro
