#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>

#include "platform/file_system_win32.h"
#include "platform/utf16_win32.h"
#include "platform/win32_error.h"

namespace avendro {
namespace {

// A replacement that grows in "<folder>\<name>.download-<n>" and is moved
// over the target with MoveFileExW.
class Win32ReplacementFile : public ReplacementFile {
 public:
  Win32ReplacementFile(std::string path, std::wstring target, std::wstring temp, HANDLE file)
      : path_(std::move(path)), target_(std::move(target)), temp_(std::move(temp)), file_(file) {}

  ~Win32ReplacementFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!temp_.empty()) DeleteFileW(temp_.c_str());
  }

  Status Append(const char* data, size_t size) override {
    if (file_ == INVALID_HANDLE_VALUE) return Status::Error(path_ + ": file già chiuso");
    size_t done = 0;
    while (done < size) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, INT_MAX));
      DWORD written = 0;
      if (!::WriteFile(file_, data + done, chunk, &written, nullptr)) {
        return Win32Error(path_, GetLastError());
      }
      done += written;
    }
    return Status::Ok();
  }

  Status Commit() override {
    if (file_ == INVALID_HANDLE_VALUE) return Status::Error(path_ + ": file già chiuso");
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) return Win32Error(path_, GetLastError());
    if (!MoveFileExW(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Win32Error(path_, GetLastError());  // the destructor removes the temporary file
    }
    temp_.clear();
    return Status::Ok();
  }

 private:
  std::string path_;
  std::wstring target_, temp_;
  HANDLE file_;
};

}  // namespace

Status Win32FileSystem::BeginReplacement(const std::string& path,
                                         std::unique_ptr<ReplacementFile>* file) {
  std::wstring target;
  Status s = ToUtf16(path, &target);
  if (!s.ok()) return s;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[64];
    std::swprintf(suffix, 64, L".download-%lx-%x", GetCurrentProcessId(), counter++);
    std::wstring temp = target + suffix;
    HANDLE handle = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      *file = std::make_unique<Win32ReplacementFile>(path, target, temp, handle);
      return Status::Ok();
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Win32Error(path, error);
  }
  return Win32Error(path, ERROR_FILE_EXISTS);
}

}  // namespace avendro
