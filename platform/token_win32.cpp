#include "platform/token_win32.h"

#include <windows.h>

#include "platform/win32_error.h"

namespace avendro {
namespace {

bool ReadElevation() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool read =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

}  // namespace

bool RunningElevated() {
  static const bool elevated = ReadElevation();
  return elevated;
}

Status EnableDebugPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return Win32Error("SeDebugPrivilege", GetLastError());
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  DWORD error = ERROR_SUCCESS;
  if (!LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid) ||
      !AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)) {
    error = GetLastError();
  } else {
    // Succeeds without enabling anything when the token lacks the
    // privilege, and says so only here.
    error = GetLastError();
  }
  CloseHandle(token);
  return error == ERROR_SUCCESS ? Status::Ok() : Win32Error("SeDebugPrivilege", error);
}

}  // namespace avendro
