#include "platform/win32_error.h"

#include <windows.h>

#include <cstdio>

#include "platform/utf16_win32.h"
#include "platform/windows_rules.h"

namespace avendro {

// The decisions of windows_rules.h are written with Windows' numbers; these
// are the same numbers as the system's headers give them.
static_assert(windows::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(windows::kErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
              windows::kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(windows::kErrorDiskFull == ERROR_DISK_FULL &&
              windows::kErrorHandleDiskFull == ERROR_HANDLE_DISK_FULL);
static_assert(windows::kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(windows::kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(windows::kErrorCancelled == ERROR_CANCELLED);
static_assert(windows::kFileWriteData == FILE_WRITE_DATA &&
              windows::kFileAppendData == FILE_APPEND_DATA);
static_assert(windows::kFileDeleteChild == FILE_DELETE_CHILD && windows::kDelete == DELETE);
static_assert(windows::kWriteDac == WRITE_DAC && windows::kWriteOwner == WRITE_OWNER);
static_assert(windows::kGenericAll == GENERIC_ALL && windows::kGenericWrite == GENERIC_WRITE);
static_assert(windows::kInheritOnlyAce == INHERIT_ONLY_ACE);
static_assert(windows::kDriveRemovable == DRIVE_REMOVABLE && windows::kDriveFixed == DRIVE_FIXED);
static_assert(windows::kDriveRemote == DRIVE_REMOTE);
static_assert(windows::kReparseTagMountPoint == IO_REPARSE_TAG_MOUNT_POINT);
static_assert(windows::kReparseTagSymlink == IO_REPARSE_TAG_SYMLINK);
static_assert(windows::kReparseTagDedup == IO_REPARSE_TAG_DEDUP);

Status Win32Error(const std::string& what, unsigned long code) {
  if (windows::IsAccessRefusal(static_cast<uint32_t>(code))) {
    return Status::Error(what + ": " + windows::AccessRefusalReason(what), StatusCode::kRefused);
  }
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason;
  if (n > 0 && text != nullptr) reason = ToUtf8(std::wstring_view(text, n));
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  char number[32];
  std::snprintf(number, sizeof number, code > 0xFFFF ? "0x%08lX" : "%lu", code);
  const StatusCode kind = windows::KindOfError(static_cast<uint32_t>(code));
  if (reason.empty()) return Status::Error(what + ": errore " + number, kind);
  return Status::Error(what + ": " + reason + " (" + number + ")", kind);
}

}  // namespace avendro
