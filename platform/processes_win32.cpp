#include "platform/processes_win32.h"

// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <cstring>

#include "platform/utf16_win32.h"
#include "platform/win32_error.h"

namespace avendro {
namespace {

// The access the process is opened with: PROCESS_ALL_ACCESS as it was before
// Windows Vista widened it to 0x1FFFFF.
constexpr DWORD kTerminateAccess = 0x1F0FFF;

// The wide record: nine fields and a 260-character image name; 556 bytes in
// a 32-bit program, 568 in a 64-bit one, where the heap id is 8 bytes wide.
static_assert(sizeof(PROCESSENTRY32W) == (sizeof(void*) == 8 ? 568 : 556));

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
  for (; more; more = Process32NextW(snapshot, &entry)) {
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    out->push_back({static_cast<uint32_t>(entry.th32ProcessID), ToUtf8(entry.szExeFile)});
  }
  CloseHandle(snapshot);
  if (error != ERROR_SUCCESS && error != ERROR_NO_MORE_FILES) {
    return Win32Error("elenco dei processi", error);
  }
  return Status::Ok();
}

Status Win32ProcessTable::Terminate(uint32_t id) {
  const std::string what = "processo " + std::to_string(id);
  if (id == SelfId()) return Status::Error(what + ": è questo programma");
  HANDLE process = OpenProcess(kTerminateAccess, FALSE, id);
  if (process == nullptr) return Win32Error(what, GetLastError());
  Status status;
  if (!TerminateProcess(process, 0)) status = Win32Error(what, GetLastError());
  CloseHandle(process);
  return status;
}

uint32_t Win32ProcessTable::SelfId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

}  // namespace avendro
