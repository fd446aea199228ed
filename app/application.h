#pragma once

#include <memory>

#include "app/main_window.h"
#include "platform/services.h"
#include "platform/status.h"

namespace avendro {

class Ftp;

// Font families the window asks for, and what stands in for them where the
// machine lacks them.
void InstallFontSubstitutes();

// The program: the platform services of this machine and the one window.
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
  std::unique_ptr<PlatformServices> services_;
  std::unique_ptr<DriveLock> drive_lock_;  // no second window on this drive
  std::unique_ptr<Ftp> ftp_;               // the FTP control, as long-lived as the window
  std::unique_ptr<AggSoftware> window_;
};

}  // namespace avendro
