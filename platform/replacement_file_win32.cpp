// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/file_system_win32.h"
#include "platform/utf16_win32.h"
#include "platform/win32_error.h"
#include "platform/windows_rules.h"

namespace avendro {
namespace {

// The string form of the owner's SID of the entry opened as `handle`, ""
// when it cannot be read.
std::string OwnerSid(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return "";
  }
  std::string sid;
  wchar_t* text = nullptr;
  if (owner != nullptr && ConvertSidToStringSidW(owner, &text)) {
    sid = ToUtf8(text);
    LocalFree(text);
  }
  LocalFree(descriptor);
  return sid;
}

static_assert(windows::kFileListDirectory == FILE_LIST_DIRECTORY);
static_assert(windows::kFileReadAttributes == FILE_READ_ATTRIBUTES);
static_assert(windows::kReadControl == READ_CONTROL);
static_assert(windows::kSynchronize == SYNCHRONIZE);

// Opens the entry `wide` itself, a link not followed, with
// windows::kLinkQueryAccess alone: through NtOpenFile, since CreateFileW
// adds SYNCHRONIZE, which the system's junctions deny. Null when it cannot.
HANDLE OpenLinkItself(const std::wstring& wide) {
  // The full path, with trailing dots and blanks dropped as Windows does.
  std::wstring full(MAX_PATH, L'\0');
  DWORD size =
      GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (size >= full.size()) {
    full.resize(size);
    size = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (size == 0 || size >= full.size()) return nullptr;
  full.resize(size);
  std::wstring nt_path = L"\\??\\" + full;
  UNICODE_STRING name;
  name.Buffer = nt_path.data();
  name.Length = static_cast<USHORT>(nt_path.size() * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status = NtOpenFile(&handle, windows::kLinkQueryAccess, &attributes, &io,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
  return NT_SUCCESS(status) ? handle : nullptr;
}

// Refuses `path` when it is a link that anyone could have planted (see
// JudgeReparsePoint); its tag and owner are read from the link itself, not
// from what it leads to. `attributes` are those of the path.
Status RefuseUntrustedLink(const std::string& path, const std::wstring& wide, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return Status::Ok();
  }
  HANDLE link = OpenLinkItself(wide);
  if (link == nullptr) return LinkRefused(path);
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(link, FileAttributeTagInfo, &tag, sizeof tag))
    tag.ReparseTag = 0;
  const std::string owner = OwnerSid(link);
  CloseHandle(link);
  if (windows::JudgeReparsePoint(tag.ReparseTag, owner) == windows::ReparseVerdict::kRefuse) {
    return LinkRefused(path);
  }
  return Status::Ok();
}

// Writes all of `size` bytes to `file`.
Status WriteAll(HANDLE file, const char* data, size_t size, const std::string& path) {
  size_t done = 0;
  while (done < size) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, INT_MAX));
    DWORD written = 0;
    if (!::WriteFile(file, data + done, chunk, &written, nullptr)) {
      return Win32Error(path, GetLastError());
    }
    done += written;
  }
  return Status::Ok();
}

// The folders of a path below its drive's root, held open while a file
// operation works in them. A folder held without delete sharing cannot be
// renamed or swapped for a link meanwhile, so the check that none of them
// is a reparse point stays true until the operation is done.
class FolderHold {
 public:
  FolderHold() = default;
  FolderHold(FolderHold&& other) noexcept : handles_(std::move(other.handles_)) {}
  FolderHold(const FolderHold&) = delete;
  FolderHold& operator=(const FolderHold&) = delete;
  ~FolderHold() {
    for (HANDLE handle : handles_) CloseHandle(handle);
  }

  // Holds the folders of `path` below "x:\" (with `whole`, the last
  // component too) and refuses a reparse point among them. Stops at the
  // first that does not exist: the operation itself then says why.
  Status Take(const std::string& path, bool whole) {
    if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) {
      return Status::Ok();  // no drive root to start from
    }
    std::vector<size_t> cuts;
    for (size_t i = 3; i < path.size(); ++i) {
      if (path[i] == '\\' || path[i] == '/') cuts.push_back(i);
    }
    if (whole) cuts.push_back(path.size());
    for (size_t cut : cuts) {
      const std::string folder = path.substr(0, cut);
      if (folder.size() <= 3 || folder.back() == '\\' || folder.back() == '/') continue;
      std::wstring wide;
      Status s = ToUtf16(folder, &wide);
      if (!s.ok()) return s;
      HANDLE handle =
          CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (handle != INVALID_HANDLE_VALUE) handles_.push_back(handle);
      DWORD attributes = GetFileAttributesW(wide.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) break;
      Status judged = RefuseUntrustedLink(folder, wide, attributes);
      if (!judged.ok()) return judged;
    }
    return Status::Ok();
  }

 private:
  std::vector<HANDLE> handles_;
};

// The wide form of `path`, with its folders held by `hold` (see Take).
Status WideAndHeld(const std::string& path, bool whole, std::wstring* wide, FolderHold* hold) {
  Status status = ToUtf16(path, wide);
  if (status.ok()) status = hold->Take(path, whole);
  return status;
}

// Refuses a file that is itself a link anyone could have planted.
Status RefuseLink(const std::string& path, const std::wstring& wide) {
  return RefuseUntrustedLink(path, wide, GetFileAttributesW(wide.c_str()));
}

// Closes `file` and moves what it wrote, `from`, over `to`, flushing what
// `flush` names. A scanner that opens the new file, or the old one, the
// moment it is written makes the move fail for a moment: that is tried
// again for about two seconds.
Status CloseAndMove(HANDLE& file, const std::wstring& from, const std::wstring& to,
                    const std::string& path, Flush flush) {
  if (file == INVALID_HANDLE_VALUE) return Status::Error(path + ": file già chiuso");
  HANDLE closing = std::exchange(file, INVALID_HANDLE_VALUE);
  // Unless `flush` is kNothing the data reaches the disk before the move
  // (MOVEFILE_WRITE_THROUGH flushes only the move): a power cut leaves the
  // old file or the whole new one, never an empty one under the target's
  // name.
  if (flush != Flush::kNothing && !FlushFileBuffers(closing)) {
    const DWORD error = GetLastError();
    CloseHandle(closing);
    return Win32Error(path, error);
  }
  if (!CloseHandle(closing)) return Win32Error(path, GetLastError());
  const DWORD how = MOVEFILE_REPLACE_EXISTING | (flush == Flush::kAll ? MOVEFILE_WRITE_THROUGH : 0);
  for (int retry = 1;; ++retry) {
    if (MoveFileExW(from.c_str(), to.c_str(), how)) return Status::Ok();
    const DWORD error = GetLastError();
    const auto pause = windows::ReplaceRetryPause(retry);
    if (!windows::IsTransientReplaceError(error) || pause.count() == 0) {
      return Win32Error(path, error);
    }
    Sleep(static_cast<DWORD>(pause.count()));
  }
}

// A replacement that grows in "<folder>\<name>.download-<n>" and is moved
// over the target with MoveFileExW.
class Win32ReplacementFile : public ReplacementFile {
 public:
  Win32ReplacementFile(std::string path, std::wstring target, std::wstring temp, HANDLE file,
                       FolderHold hold)
      : path_(std::move(path)),
        target_(std::move(target)),
        temp_(std::move(temp)),
        file_(file),
        hold_(std::move(hold)) {}

  ~Win32ReplacementFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!temp_.empty()) DeleteFileW(temp_.c_str());
  }

  Status Append(const char* data, size_t size) override {
    if (file_ == INVALID_HANDLE_VALUE) return Status::Error(path_ + ": file già chiuso");
    return WriteAll(file_, data, size, path_);
  }

  Status Commit(Flush flush) override {
    // On failure the destructor removes the temporary file.
    Status status = CloseAndMove(file_, temp_, target_, path_, flush);
    if (status.ok()) temp_.clear();
    return status;
  }

 private:
  std::string path_;
  std::wstring target_, temp_;
  HANDLE file_;
  FolderHold hold_;
};

// A partial download, appended to through `file_`.
class Win32PartialFile : public PartialFile {
 public:
  Win32PartialFile(std::string path, std::wstring partial, std::wstring target, HANDLE file,
                   uint64_t kept, FolderHold hold)
      : path_(std::move(path)),
        partial_(std::move(partial)),
        target_(std::move(target)),
        file_(file),
        kept_(kept),
        hold_(std::move(hold)) {}

  ~Win32PartialFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);  // the bytes stay for a later run
  }

  uint64_t kept() const override { return kept_; }

  Status ReadKept(const std::function<void(const char*, size_t)>& sink) override {
    HANDLE in = CreateFileW(partial_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return Win32Error(path_, GetLastError());
    std::string buffer(512 * 1024, '\0');
    uint64_t left = kept_;
    Status status;
    while (left > 0 && status.ok()) {
      DWORD got = 0;
      DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, buffer.size()));
      if (!ReadFile(in, buffer.data(), want, &got, nullptr)) {
        status = Win32Error(path_, GetLastError());
      } else if (got == 0) {
        status = Status::Error(path_ + ": file più corto del previsto");
      } else {
        sink(buffer.data(), got);
        left -= got;
      }
    }
    CloseHandle(in);
    return status;
  }

  Status Append(const char* data, size_t size) override {
    if (file_ == INVALID_HANDLE_VALUE) return Status::Error(path_ + ": file già chiuso");
    return WriteAll(file_, data, size, path_);
  }

  Status Commit(Flush flush) override {
    return CloseAndMove(file_, partial_, target_, path_, flush);
  }

 private:
  std::string path_;
  std::wstring partial_, target_;
  HANDLE file_;
  uint64_t kept_;
  FolderHold hold_;
};

}  // namespace

Status Win32FileSystem::CreateFolder(const std::string& path) {
  std::wstring wide;
  FolderHold hold;
  Status status = WideAndHeld(path, false, &wide, &hold);
  if (!status.ok()) return status;
  if (!CreateDirectoryW(wide.c_str(), nullptr)) {
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) status = RefuseLink(path, wide);
    return status.ok() ? Win32Error(path, error) : status;
  }
  return Status::Ok();
}

Status Win32FileSystem::BeginReplacement(const std::string& path,
                                         std::unique_ptr<ReplacementFile>* file) {
  std::wstring target;
  FolderHold hold;
  Status s = WideAndHeld(path, false, &target, &hold);
  if (s.ok()) s = RefuseLink(path, target);
  if (!s.ok()) return s;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[64];
    std::swprintf(suffix, 64, L".download-%lx-%x", GetCurrentProcessId(), counter++);
    std::wstring temp = target + suffix;
    HANDLE handle = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      *file = std::make_unique<Win32ReplacementFile>(path, target, temp, handle, std::move(hold));
      return Status::Ok();
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Win32Error(path, error);
  }
  return Win32Error(path, ERROR_FILE_EXISTS);
}

Status Win32FileSystem::OpenPartial(const std::string& path, const std::string& target,
                                    std::unique_ptr<PartialFile>* file) {
  return OpenPartialFile(path, target, FILE_SHARE_READ, file);
}

Status Win32FileSystem::OpenSharedLog(const std::string& path, const std::string& target,
                                      std::unique_ptr<PartialFile>* file) {
  return OpenPartialFile(path, target, FILE_SHARE_READ | FILE_SHARE_WRITE, file);
}

Status Win32FileSystem::OpenPartialFile(const std::string& path, const std::string& target,
                                        DWORD share, std::unique_ptr<PartialFile>* file) {
  // Failures name the target: the operator knows the archive, not its
  // partial file.
  std::wstring wide, wide_target;
  FolderHold hold;
  Status s = WideAndHeld(target, false, &wide_target, &hold);
  if (s.ok()) s = WideAndHeld(path, false, &wide, &hold);
  if (s.ok()) s = RefuseLink(target, wide_target);
  if (!s.ok()) return s;
  s = RefuseLink(path, wide);
  if (!s.ok()) return Status::Error(target + ": " + s.message());
  // The name is known in advance: anyone who can write the folder can
  // plant a hard link to another file there. Such a file is removed, never
  // written, and the new one is created only where none is.
  const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return Win32Error(target, error);
  } else {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
      const DWORD error = GetLastError();
      CloseHandle(handle);
      return Win32Error(target, error);
    }
    if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
      if (!DeleteFileW(wide.c_str())) return Win32Error(target, GetLastError());
    }
  }
  if (handle == INVALID_HANDLE_VALUE) {
    handle = CreateFileW(wide.c_str(), access, share, nullptr, CREATE_NEW, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Win32Error(target, GetLastError());
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size)) {
    DWORD error = GetLastError();
    CloseHandle(handle);
    return Win32Error(target, error);
  }
  *file = std::make_unique<Win32PartialFile>(target, wide, wide_target, handle,
                                             static_cast<uint64_t>(size.QuadPart), std::move(hold));
  return Status::Ok();
}

Status Win32FileSystem::ReadSmallFile(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  std::wstring wide;
  FolderHold hold;
  Status s = WideAndHeld(path, false, &wide, &hold);
  if (s.ok()) s = RefuseLink(path, wide);
  if (!s.ok()) return s;
  HANDLE in = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Status::Ok();
    return Win32Error(path, error);
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(in, &size)) {
    s = Win32Error(path, GetLastError());
  } else if (static_cast<uint64_t>(size.QuadPart) > limit) {
    s = Status::Error(path + ": file troppo grande");
  }
  char buffer[4096];
  while (s.ok()) {
    DWORD got = 0;
    if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) {
      s = Win32Error(path, GetLastError());
    } else if (got == 0) {
      break;
    } else if (bytes->size() + got > limit) {
      s = Status::Error(path + ": file troppo grande");
    } else {
      bytes->append(buffer, got);
    }
  }
  CloseHandle(in);
  return s;
}

Status Win32FileSystem::RemoveAbandonedReplacements(const std::string& folder) {
  std::vector<FolderEntry> entries;
  Status s = ListFolder(folder, &entries);
  if (!s.ok()) return s;
  for (const FolderEntry& entry : entries) {
    const DWORD owner = ReplacementOwner(entry.name, 16);
    if (entry.folder || owner == 0 || owner == GetCurrentProcessId()) continue;
    // A process id that names no process: OpenProcess says the parameter is
    // wrong. Any other failure (access denied) means someone has it.
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
    if (process != nullptr) {
      CloseHandle(process);
    } else if (GetLastError() == ERROR_INVALID_PARAMETER) {
      (void)RemoveFile(folder + "\\" + entry.name);
    }
  }
  return Status::Ok();
}

Status Win32FileSystem::ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::wstring pattern;
  FolderHold hold;
  Status s = WideAndHeld(folder, true, &pattern, &hold);
  if (!s.ok()) return s;
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return Win32Error(folder, GetLastError());
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    // FILETIME counts 100 ns from 1601; the system clock's epoch is 1970.
    ULARGE_INTEGER t;
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    int64_t unix_seconds = static_cast<int64_t>(t.QuadPart / 10000000ULL) - 11644473600LL;
    FolderEntry entry;
    entry.name = ToUtf8(name);
    entry.modified = std::chrono::system_clock::from_time_t(static_cast<time_t>(unix_seconds));
    entry.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back(std::move(entry));
  } while (FindNextFileW(find, &data));
  DWORD error = GetLastError();
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) return Win32Error(folder, error);
  return Status::Ok();
}

Status Win32FileSystem::RemoveFile(const std::string& path) {
  std::wstring wide;
  FolderHold hold;
  Status s = WideAndHeld(path, false, &wide, &hold);
  if (!s.ok()) return s;
  if (!DeleteFileW(wide.c_str())) return Win32Error(path, GetLastError());
  return Status::Ok();
}

}  // namespace avendro
