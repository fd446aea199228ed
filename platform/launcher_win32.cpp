#include "platform/launcher_win32.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <cctype>
#include <cstdint>
#include <vector>

#include "platform/security_win32.h"
#include "platform/token_win32.h"
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

std::string& Interpreter() {
  static std::string interpreter;
  return interpreter;
}

// The command interpreter: cmd.exe of the system folder. %ComSpec% is the
// user's to set, and an elevated Avendro would run what it names.
std::string CommandInterpreter() {
  if (!Interpreter().empty()) return Interpreter();
  wchar_t buf[MAX_PATH];
  const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return ToUtf8(std::wstring_view(buf, n)) + "\\cmd.exe";
  return "cmd.exe";
}

// The folder that holds `path` ("d:\" for "d:\x.bat"), or "" for a bare name.
std::string OwnFolder(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return "";
  return path.substr(0, cut == 2 && path[1] == ':' ? 3 : cut);
}

// The target folders of a script's Copy lines ("Copy d:\drubel\x.exe
// c:\programmi\varnok" gives "c:\programmi\varnok").
std::vector<std::string> CopyTargets(const std::string& script) {
  std::vector<std::string> targets;
  std::wstring wide;
  if (!ToUtf16(script, &wide).ok()) return targets;
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return targets;
  char buf[4096];
  DWORD n = 0;
  std::string text;
  if (ReadFile(file, buf, sizeof buf, &n, nullptr)) text.assign(buf, n);
  CloseHandle(file);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.size() > 5 && (line[0] == 'C' || line[0] == 'c') && line.substr(1, 4) == "opy ") {
      targets.push_back(line.substr(line.find_last_of(' ') + 1));
    }
  }
  return targets;
}

// With administrator rights, what a standard user could have put in place
// must not run: the program or script, its folder, for a script the work
// folder whose rar it calls and the folders its Copy lines write to, nor a
// path through a link anyone could have planted. Each line says why and
// what to do. `work_folder` follows the script's drive letter.
Status RefusePlantable(const std::string& path, const std::string& work_folder) {
  std::vector<std::string> places = {path, OwnFolder(path)};
  if (IsBatchScript(path) && path.size() > 2 && path[1] == ':') {
    places.push_back(path.substr(0, 1) + work_folder);
    for (const std::string& target : CopyTargets(path)) places.push_back(target);
  }
  const std::string refused = path + ": non avviato: Avendro ha i diritti di amministratore e ";
  const std::string what_to_do = "; avviare Avendro senza diritti di amministratore";
  for (const std::string& place : places) {
    if (place.empty()) continue;
    const std::string link = UntrustedLinkOnPath(place);
    if (!link.empty()) {
      return Status::Error(refused + link + " è un collegamento che un utente può aver creato" +
                           what_to_do);
    }
    // A place not there yet is judged by the folder it would be made in.
    std::string existing = place;
    std::wstring wide;
    while (ToUtf16(existing, &wide).ok() &&
           GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES && existing.size() > 3) {
      existing = OwnFolder(existing);
    }
    bool writable = true;
    Status status = StandardUsersCanWritePath(existing, &writable);
    if (!status.ok()) {
      return Status::Error(refused + "i permessi di " + existing + " non sono leggibili (" +
                           status.message() + ")" + what_to_do);
    }
    if (writable) {
      return Status::Error(refused + existing + " può essere modificato dagli utenti" + what_to_do);
    }
  }
  return Status::Ok();
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

void Win32Launcher::UseInterpreter(const std::string& path) { Interpreter() = path; }

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
  if (RunningElevated()) {
    Status refused = RefusePlantable(path, work_folder_);
    if (!refused.ok()) return refused;
  }
  // The path is converted first: when it is not UTF-8, the error names it
  // rather than the command line.
  std::wstring wide_program, wide_parameters, wide_folder;
  Status status = ToUtf16(path, &wide_program);
  if (status.ok()) status = ToUtf16(program, &wide_program);
  if (status.ok()) status = ToUtf16(parameters, &wide_parameters);
  if (status.ok()) status = ToUtf16(OwnFolder(path), &wide_folder);
  if (!status.ok()) return status;

  SHELLEXECUTEINFOW info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  // The handle, no message box of the shell's own (the log says what
  // failed), and no return before the program has been started.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpFile = wide_program.c_str();
  info.lpParameters = wide_parameters.empty() ? nullptr : wide_parameters.c_str();
  // Whatever folder Avendro was started from (the Task Scheduler's
  // System32, a vendor's profile): a script's "cd d:\drubel" changes the
  // folder of d: but not the current drive.
  info.lpDirectory = wide_folder.empty() ? nullptr : wide_folder.c_str();
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
