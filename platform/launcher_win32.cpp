#include "platform/launcher_win32.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <cctype>
#include <cstdint>

#include "platform/utf16_win32.h"
#include "platform/win32_error.h"
#include "platform/windows_rules.h"

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

// "Global\Avendro-script-<hash>", the hash (FNV-1a) over the script's
// path in lower case, as Windows compares paths.
std::wstring JobName(const std::string& key) {
  std::wstring wide;
  if (!ToUtf16(key, &wide).ok()) wide.clear();
  if (!wide.empty()) CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : wide) hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
  std::wstring name = L"Global\\Avendro-script-";
  for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 0xF];
  return name;
}

}  // namespace

void Win32Launcher::ShareRunning(const std::string& key, uint64_t task) {
  auto it = processes_.find(task);
  if (it == processes_.end()) return;
  HANDLE job = CreateJobObjectW(nullptr, JobName(key).c_str());
  if (job == nullptr) return;
  // Outside the job, its count of processes would not be the script's.
  if (AssignProcessToJobObject(job, it->second)) {
    HANDLE held = nullptr;
    (void)DuplicateHandle(GetCurrentProcess(), job, it->second, &held, JOB_OBJECT_QUERY, FALSE, 0);
  }
  CloseHandle(job);
}

bool Win32Launcher::RunningAnywhere(const std::string& key) {
  HANDLE job = OpenJobObjectW(JOB_OBJECT_QUERY, FALSE, JobName(key).c_str());
  if (job == nullptr) return windows::ScriptJobRunning(false, GetLastError());
  // A handle to a process that has ended may keep the name a while; the
  // job's count of running processes says whether the script still runs.
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
  const bool counted = QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info,
                                                 sizeof info, nullptr) != FALSE;
  CloseHandle(job);
  return !counted || info.ActiveProcesses > 0;
}

Win32Launcher::~Win32Launcher() {
  for (const auto& [task, handle] : processes_) CloseHandle(handle);
}

Status Win32Launcher::Start(const std::string& path, WindowStyle style, uint64_t* task) {
  std::string program = path;
  std::string parameters;
  if (IsBatchScript(path)) {
    // cmd drops the outer pair of quotes and runs what is inside them.
    program = CommandInterpreter();
    parameters = "/c \"\"" + path + "\"\"";
  }
  // The path is converted first: when it is not UTF-8, the error names it
  // rather than the command line.
  std::wstring wide_program, wide_parameters;
  Status status = ToUtf16(path, &wide_program);
  if (status.ok()) status = ToUtf16(program, &wide_program);
  if (status.ok()) status = ToUtf16(parameters, &wide_parameters);
  if (!status.ok()) return status;

  SHELLEXECUTEINFOW info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  // The handle, no message box of the shell's own (the log says what
  // failed), and no return before the program has been started.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpFile = wide_program.c_str();
  info.lpParameters = wide_parameters.empty() ? nullptr : wide_parameters.c_str();
  info.nShow = style == WindowStyle::kMaximizedFocus ? SW_SHOWMAXIMIZED : SW_SHOWMINIMIZED;
  // The shell may hand the start to extensions that need COM.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const bool started = ShellExecuteExW(&info) != FALSE;
  const DWORD error = started ? ERROR_SUCCESS : GetLastError();
  if (SUCCEEDED(com)) CoUninitialize();
  if (!started) {
    // No at the prompt for administrator rights: the operator's choice.
    if (error == ERROR_CANCELLED) {
      return Status::Error(path + ": " + std::string(windows::kElevationRefusedReason));
    }
    return Win32Error(path, error);
  }
  if (info.hProcess == nullptr) {
    // Handed to a program that was already running: nothing to follow.
    static uint64_t untracked = uint64_t{1} << 40;
    *task = ++untracked;
    return Status::Ok();
  }
  // The handles of tasks that ended and nobody asked about (the RAR
  // installer's) go now, so that only running ones are held.
  for (auto it = processes_.begin(); it != processes_.end();) {
    const uint64_t earlier = (it++)->first;
    (void)Running(earlier);
  }
  *task = GetProcessId(info.hProcess);
  ended_.erase(*task);
  processes_[*task] = info.hProcess;
  return Status::Ok();
}

bool Win32Launcher::Running(uint64_t task) {
  auto it = processes_.find(task);
  if (it == processes_.end()) return false;
  if (WaitForSingleObject(it->second, 0) == WAIT_TIMEOUT) return true;
  DWORD code = 0;
  if (GetExitCodeProcess(it->second, &code)) ended_[task] = code;
  CloseHandle(it->second);
  processes_.erase(it);
  return false;
}

std::optional<uint32_t> Win32Launcher::ExitCode(uint64_t task) {
  if (Running(task)) return std::nullopt;
  auto it = ended_.find(task);
  if (it == ended_.end()) return std::nullopt;
  return it->second;
}

}  // namespace avendro
