#include "tests/win32/win32_test_support.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace avendro::testing {
namespace {

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      // What a link leads to is never the test's to remove.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(path.c_str());
}

// The folders the tests make at the root of the scratch drive.
const char* const kRootFolders[] = {"drubel", "dunmar", "programmi"};

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TempFolder::TempFolder() {
  char base[MAX_PATH];
  DWORD n = GetTempPathA(sizeof base, base);
  std::string temp(base, n);
  if (!temp.empty() && temp.back() == '\\') temp.pop_back();
  static unsigned counter = 0;
  do {
    path_ = temp + "\\avendro-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
  } while (!CreateDirectoryA(path_.c_str(), nullptr));
}

TempFolder::~TempFolder() { RemoveTree(path_); }

ScratchDrive::ScratchDrive() {
  const char* given = std::getenv("AVENDRO_TEST_DRIVE");
  if (given != nullptr && std::isalpha(static_cast<unsigned char>(given[0]))) {
    letter_ = given[0];
    promised_ = true;
  } else {
    // The last free letter, over a temporary folder.
    DWORD used = GetLogicalDrives();
    for (char c = 'Y'; c >= 'H' && letter_ == 0; --c) {
      if ((used & (1u << (c - 'A'))) == 0) letter_ = c;
    }
    if (letter_ == 0) {
      why_ = "no free drive letter";
      return;
    }
    backing_ = new TempFolder;
    device_ = Path("").substr(0, 2);
    if (!DefineDosDeviceA(0, device_.c_str(), backing_->path().c_str())) {
      why_ = "DefineDosDevice failed";
      device_.clear();
      letter_ = 0;
      return;
    }
  }
  // Wine lists a letter made by DefineDosDevice but opens no file through it.
  if (!Exists(Path(""))) {
    why_ = "drive " + Path("") + " cannot be opened";
    letter_ = 0;
    return;
  }
  for (const char* folder : kRootFolders) {
    if (Exists(Path(folder))) {
      why_ = Path(folder) + " exists already; the drive is not a scratch drive";
      letter_ = 0;
      return;
    }
  }
}

ScratchDrive::~ScratchDrive() {
  // A program a test started may still hold its image or a file open for a
  // moment after it ended; a folder left behind would make every later test
  // take the drive for a real one.
  for (int tries = 0; letter_ != 0 && tries < 100; ++tries) {
    bool left = false;
    for (const char* folder : kRootFolders) {
      RemoveTree(Path(folder));
      left = left || Exists(Path(folder));
    }
    if (!left) break;
    Sleep(100);
  }
  // The most recent definition of the letter, which is this one.
  if (!device_.empty()) DefineDosDeviceA(DDD_REMOVE_DEFINITION, device_.c_str(), nullptr);
  delete backing_;
}

std::string ScratchDrive::Path(const std::string& relative) const {
  return std::string(1, letter_) + ":\\" + relative;
}

void MakeFolders(const std::string& path) {
  size_t from = path.size() > 2 && path[1] == ':' ? 3 : 0;
  for (size_t cut = path.find('\\', from);; cut = path.find('\\', cut + 1)) {
    CreateDirectoryA(path.substr(0, cut).c_str(), nullptr);
    if (cut == std::string::npos) break;
  }
}

void PutFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
  CloseHandle(file);
  return text;
}

bool WaitForFile(const std::string& path, int ms) {
  for (int waited = 0;; waited += 20) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
        (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0)) {
      return true;
    }
    if (waited >= ms) return false;
    Sleep(20);
  }
}

std::string ProgramFolder() {
  char buf[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  std::string path(buf, n);
  return path.substr(0, path.find_last_of('\\'));
}

void CopyHelper(const std::string& path) {
  CopyFileA((ProgramFolder() + "\\avendro_test_helper.exe").c_str(), path.c_str(), FALSE);
}

StartedProcess::StartedProcess(const std::string& program, const std::string& arguments) {
  std::string line = "\"" + program + "\" " + arguments;
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  if (!CreateProcessA(program.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return;
  }
  CloseHandle(info.hThread);
  handle_ = info.hProcess;
  id_ = info.dwProcessId;
}

StartedProcess::~StartedProcess() {
  if (handle_ == nullptr) return;
  if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(handle_, 1);
    WaitForSingleObject(handle_, 5000);
  }
  CloseHandle(handle_);
}

bool StartedProcess::WaitForEnd(int ms) {
  return handle_ != nullptr &&
         WaitForSingleObject(handle_, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

uint32_t StartedProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (handle_ != nullptr) GetExitCodeProcess(handle_, &code);
  return code;
}

}  // namespace avendro::testing
