#include "platform/launcher_win32.h"

#include <windows.h>

#include <cctype>

#include "platform/utf16_win32.h"
#include "platform/win32_error.h"

namespace avendro {
namespace {

bool IsBatchScript(const std::string& path) {
  size_t dot = path.find_last_of(".\\/");
  if (dot == std::string::npos || path[dot] != '.') return false;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "bat" || extension == "cmd";
}

// The command interpreter: %ComSpec%, else cmd.exe of the system folder.
std::string CommandInterpreter() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"ComSpec", buf, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return ToUtf8(std::wstring_view(buf, n));
  n = GetSystemDirectoryW(buf, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return ToUtf8(std::wstring_view(buf, n)) + "\\cmd.exe";
  return "cmd.exe";
}

}  // namespace

Win32Launcher::~Win32Launcher() {
  for (const auto& [task, handle] : processes_) CloseHandle(handle);
}

Status Win32Launcher::Start(const std::string& path, WindowStyle style, uint64_t* task) {
  std::string program;
  std::string command_line;
  if (IsBatchScript(path)) {
    // cmd drops the outer pair of quotes and runs what is inside them.
    program = CommandInterpreter();
    command_line = "\"" + program + "\" /c \"\"" + path + "\"\"";
  } else {
    program = path;
    command_line = "\"" + path + "\"";
  }
  // The path is converted first: when it is not UTF-8, the error names it
  // rather than the command line.
  std::wstring wide_program, wide_line;
  Status status = ToUtf16(path, &wide_program);
  if (status.ok()) status = ToUtf16(program, &wide_program);
  if (status.ok()) status = ToUtf16(command_line, &wide_line);
  if (!status.ok()) return status;

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(style == WindowStyle::kMaximizedFocus ? SW_SHOWMAXIMIZED
                                                                                : SW_SHOWMINIMIZED);
  PROCESS_INFORMATION started;
  ZeroMemory(&started, sizeof started);
  // wide_line.data() is writable, as CreateProcessW needs.
  if (!CreateProcessW(wide_program.c_str(), wide_line.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &started)) {
    return Win32Error(path, GetLastError());
  }
  CloseHandle(started.hThread);
  *task = started.dwProcessId;
  processes_[*task] = started.hProcess;
  return Status::Ok();
}

bool Win32Launcher::Running(uint64_t task) {
  auto it = processes_.find(task);
  if (it == processes_.end()) return false;
  if (WaitForSingleObject(it->second, 0) == WAIT_TIMEOUT) return true;
  CloseHandle(it->second);
  processes_.erase(it);
  return false;
}

}  // namespace avendro
