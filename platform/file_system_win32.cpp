#include "platform/file_system_win32.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cwchar>

#include "platform/utf16_win32.h"
#include "platform/win32_error.h"
#include "platform/windows_rules.h"

namespace avendro {
namespace {

// Whether an entry with these attributes answers a query with `mask`.
bool Matches(DWORD attributes, int mask) {
  if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return (mask & kMaskDirectory) != 0;
  return true;
}

// "x:\" for a path that starts with a drive letter, else "".
std::string DriveRoot(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) {
    return "";
  }
  return path.substr(0, 2) + "\\";
}

// An exclusive lock on a file in the work folder, which only those who may
// write that folder can take (a name in the system's namespace could be
// squatted by any account); the system lets it go with the handle, however
// the program ends.
class Win32DriveLock : public DriveLock {
 public:
  explicit Win32DriveLock(HANDLE file) : file_(file) {}
  ~Win32DriveLock() override { CloseHandle(file_); }

 private:
  HANDLE file_;
};

// Whether the drive of `root` ("z:\") is Wine's drive of the whole Unix
// file system. Windows itself has no such drive, nor Wine's function.
bool HoldsWholeFileSystem(const std::string& root) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
  std::wstring wide;
  if (found == nullptr || !ToUtf16(root, &wide).ok()) return false;
  auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(found));
  char* name = unix_name(wide.c_str());
  if (name == nullptr) return false;
  const bool whole = std::string(name) == "/";
  HeapFree(GetProcessHeap(), 0, name);
  return whole;
}

// Whether a folder above `path` exists as a file: then nothing can be
// below it, though the system may call the path invalid rather than absent.
bool FileStandsAbove(const std::wstring& path) {
  for (size_t end = path.find_last_of(L"\\/"); end != std::wstring::npos && end > 0;
       end = path.find_last_of(L"\\/", end - 1)) {
    DWORD attributes = GetFileAttributesW(path.substr(0, end).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  return false;
}

}  // namespace

Status Win32FileSystem::CurrentDrive(std::string_view work_folder, char* letter) {
  wchar_t buf[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, buf);
  if (n == 0 || n >= MAX_PATH) return Win32Error("cartella corrente", GetLastError());
  std::string folder = ToUtf8(std::wstring_view(buf, n));
  if (DriveRoot(folder).empty()) {
    return Status::Error("La cartella corrente " + folder + " non è su un'unità con una lettera");
  }
  *letter = static_cast<char>(std::tolower(static_cast<unsigned char>(folder[0])));
  if (HoldsWholeFileSystem(folder.substr(0, 3))) {
    return WholeFileSystemDrive(folder, *letter, work_folder);
  }
  return Status::Ok();
}

Status Win32FileSystem::NativePath(const std::string& path, std::string* native) {
  *native = path;
  return Status::Ok();
}

Status Win32FileSystem::FindEntry(const std::string& path, int mask, std::string* name) {
  name->clear();
  std::wstring wide;
  Status status = ToUtf16(path, &wide);
  if (!status.ok()) return status;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(wide.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    bool absent =
        error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_NO_MORE_FILES ||
        ((error == ERROR_INVALID_NAME || error == ERROR_DIRECTORY) && FileStandsAbove(wide));
    if (!absent) return Win32Error(path, error);
    // Nothing there, unless the drive itself is missing.
    std::wstring root;
    if (ToUtf16(DriveRoot(path), &root).ok() && !root.empty() &&
        GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return Win32Error(path, GetLastError());
    }
    return Status::Ok();
  }
  do {
    if (Matches(entry.dwFileAttributes, mask)) {
      *name = ToUtf8(entry.cFileName);
      break;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return Status::Ok();
}

Status Win32FileSystem::LockDrive(char letter, std::string_view work_folder,
                                  std::unique_ptr<DriveLock>* lock) {
  const std::wstring root = {static_cast<wchar_t>(letter), L':', L'\\'};
  if (GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) {
    return Status::Error(std::string(1, letter) + ": non pronta");
  }
  if (HoldsWholeFileSystem(ToUtf8(root))) return NotAShopDrive(letter);
  // The work folder is made here when missing, as the scan would make it.
  std::string work_path(1, letter);
  work_path += work_folder;
  std::wstring folder;
  Status status = ToUtf16(work_path, &folder);
  if (!status.ok()) return status;
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return Win32Error(ToUtf8(folder), GetLastError());
  }
  const std::wstring path = folder + L"\\avendro.lock";
  // Shared for reading and writing, so that another Avendro gets as far as
  // the lock; never through a link planted under that name.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  OVERLAPPED whole{};
  if (file != INVALID_HANDLE_VALUE &&
      !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
    error = GetLastError();
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (windows::LockTakenByAnother(error)) return DriveTaken(letter);
  if (file == INVALID_HANDLE_VALUE) return Win32Error(ToUtf8(path), error);
  *lock = std::make_unique<Win32DriveLock>(file);
  return Status::Ok();
}

Status Win32FileSystem::MachineDataFolder(std::string* folder) {
  wchar_t* path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path);
  if (SUCCEEDED(result)) *folder = ToUtf8(path);
  CoTaskMemFree(path);
  if (FAILED(result)) return Win32Error("ProgramData", static_cast<DWORD>(result));
  return Status::Ok();
}

}  // namespace avendro
