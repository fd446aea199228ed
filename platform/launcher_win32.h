#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/launcher.h"

namespace avendro {

// Starts programs as the shell does (ShellExecuteEx), so that an installer
// that asks for administrator rights gets the system's prompt, and batch
// scripts (.bat, .cmd) through "cmd.exe /c" of the system folder; each in a new console, with the
// window style as the show command (3 SW_SHOWMAXIMIZED, 2 SW_SHOWMINIMIZED)
// and in the folder that holds the program or script. The task is the process id; its
// handle is kept until Running, or the next Start, sees the process end, so
// the id cannot be reused meanwhile, and its exit code is kept from then on.
class Win32Launcher : public Launcher {
 public:
  // `work_folder` is the work folder's path after a drive letter: the
  // scripts run the RAR tool from there, on their own drive.
  explicit Win32Launcher(std::string_view work_folder) : work_folder_(work_folder) {}
  ~Win32Launcher() override;
  Win32Launcher(const Win32Launcher&) = delete;
  Win32Launcher& operator=(const Win32Launcher&) = delete;

  // Scripts run by this interpreter instead of cmd.exe of the system folder
  // (never %ComSpec%, which the user sets); "" goes back to it. For tests.
  static void UseInterpreter(const std::string& path);

  Status Start(const std::string& path, WindowStyle style, uint64_t* task) override;
  bool Running(uint64_t task) override;
  std::optional<uint32_t> ExitCode(uint64_t task) override;
  // A job object named after the script's path in the Global namespace,
  // seen from every session (a night's task runs as SYSTEM); the script's
  // own process holds a handle to it, so the name lasts as long as the
  // script does.
  void ShareRunning(const std::string& key, uint64_t task) override;
  bool RunningAnywhere(const std::string& key) override;

 private:
  std::string work_folder_;
  std::map<uint64_t, void*> processes_;  // task -> process handle
  std::map<uint64_t, uint32_t> ended_;   // task -> exit code
};

}  // namespace avendro
