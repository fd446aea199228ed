#include "platform/processes_win32.h"

// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <cstring>

#include "platform/token_win32.h"
#include "platform/utf16_win32.h"
#include "platform/win32_error.h"

namespace avendro {
namespace {

// What the stop uses and no more: a process that runs elevated or as
// another user grants an administrator these rights where it refuses all
// of them (0x1F0FFF).
constexpr DWORD kTerminateAccess =
    PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

// The wide record: nine fields and a 260-character image name; 556 bytes in
// a 32-bit program, 568 in a 64-bit one, where the heap id is 8 bytes wide.
static_assert(sizeof(PROCESSENTRY32W) == (sizeof(void*) == 8 ? 568 : 556));

uint64_t ToUint64(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// When the process started, 0 when that cannot be read.
uint64_t CreationTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return ToUint64(created);
}

// The start time of the process listed as `entry`, read through a handle,
// which holds on to the process it names. The id may have gone to a newer
// process since the snapshot: one that started after `listed` is not the
// listed one, which has ended (false). A time that cannot be read leaves
// the entry unverified, so that it is never stopped.
bool ReadStart(ProcessEntry* entry, uint64_t listed) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry->id);
  if (process == nullptr) {
    entry->unverified = Win32Error("ora di avvio non leggibile", GetLastError()).message();
    return true;
  }
  entry->started = CreationTime(process);
  const DWORD error = GetLastError();
  CloseHandle(process);
  if (entry->started == 0) {
    entry->unverified = Win32Error("ora di avvio non leggibile", error).message();
  }
  return entry->started <= listed;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return ToUint64(now);
}

// The handle holds on to one process, whose id is not given out again while
// it is open: its times, its end and its termination are all of that one.
Status TerminateIfListed(HANDLE handle, const ProcessEntry& process, const std::string& what) {
  // Without the listed start time nothing tells the listed process from a
  // later one given its id.
  if (process.started == 0) return Status::Error(what + ": ora di avvio sconosciuta");
  uint64_t created = CreationTime(handle);
  if (created == 0) return Win32Error(what, GetLastError());
  if (created != process.started) return Status::Ok();  // another process has the id
  if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return Status::Ok();  // ended by itself
  if (TerminateProcess(handle, 0)) return Status::Ok();
  DWORD error = GetLastError();
  // Refused because it was ending by itself at that moment.
  if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return Status::Ok();
  return Win32Error(what, error);
}

}  // namespace

Status Win32ProcessTable::List(std::vector<ProcessEntry>* out) {
  out->clear();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return Win32Error("elenco dei processi", GetLastError());
  PROCESSENTRY32W entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  BOOL more = Process32FirstW(snapshot, &entry);
  // An empty snapshot ends at once with ERROR_NO_MORE_FILES; anything else
  // means the listing could not be read.
  DWORD error = more ? ERROR_SUCCESS : GetLastError();
  // Every process of the snapshot had started by now.
  const uint64_t listed = Now();
  for (; more; more = Process32NextW(snapshot, &entry)) {
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    ProcessEntry process{static_cast<uint32_t>(entry.th32ProcessID), ToUtf8(entry.szExeFile)};
    if (process.id == 0 || ReadStart(&process, listed)) out->push_back(std::move(process));
  }
  CloseHandle(snapshot);
  if (error != ERROR_SUCCESS && error != ERROR_NO_MORE_FILES) {
    return Win32Error("elenco dei processi", error);
  }
  return Status::Ok();
}

Status Win32ProcessTable::Terminate(const ProcessEntry& process) {
  const std::string what = "processo " + std::to_string(process.id);
  // Id 0 is the idle process, which no one may open.
  if (process.id == 0) return Status::Error(what + ": identificativo non valido");
  if (process.id == SelfId()) return Status::Error(what + ": è questo programma");
  // An administrator stops other users' programs through this privilege,
  // enabled once; a standard user has none to enable.
  static const bool debug = RunningElevated() && EnableDebugPrivilege().ok();
  (void)debug;
  HANDLE handle = OpenProcess(kTerminateAccess, FALSE, process.id);
  if (handle == nullptr) {
    DWORD error = GetLastError();
    // No process has the id (any more): it has ended by itself.
    if (error == ERROR_INVALID_PARAMETER) return Status::Ok();
    return Win32Error(what, error);
  }
  Status status = TerminateIfListed(handle, process, what);
  CloseHandle(handle);
  return status;
}

uint32_t Win32ProcessTable::SelfId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

}  // namespace avendro
