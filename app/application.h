#pragma once

#include <memory>

#include "app/main_window.h"
#include "platform/status.h"
#include "shell/session.h"

namespace avendro {

// The program with its window, as main starts it when no argument is given:
// the QApplication, the session and the window, until the window closes.
// Returns the exit code.
int RunWindow(int argc, char* argv[]);

// Font families the window asks for, and what stands in for them where the
// machine lacks them.
void InstallFontSubstitutes();

// The program with its window: the session on the work drive and the one
// window.
class Application {
 public:
  Application();
  ~Application();

  // Finds the drives, creates the window, runs its load sequence and shows
  // it. On failure nothing has been created on disk and the message names
  // what is missing, or says that another Avendro is open on the drive.
  Status Open();

  AggSoftware& window() { return *window_; }

 private:
  std::unique_ptr<Session> session_;
  std::unique_ptr<AggSoftware> window_;  // goes first: the session's runs talk to it
};

}  // namespace avendro
