#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/file_details_win32.h"
#include "platform/file_system_win32.h"
#include "platform/launcher_win32.h"
#include "platform/processes_win32.h"
#include "tests/test_support.h"

namespace avendro::testing {

namespace fs = std::filesystem;

namespace {

// Removes a file or a folder with everything in it, whatever their
// attributes (std::filesystem stops at a read-only file).
void RemoveTree(const fs::path& path) {
  const std::wstring wide = path.wstring();
  DWORD attributes = GetFileAttributesW(wide.c_str());
  // A link planted by the runner stays, and so does what it leads to.
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(wide.c_str());
    return;
  }
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path / L"*").wstring().c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path / name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(wide.c_str());
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The names at the root of a drive, in lower case.
std::vector<std::string> RootNames(const fs::path& root) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::end(it); it.increment(ec)) {
    names.push_back(Lower(it->path().filename().string()));
  }
  return names;
}

void Empty(const fs::path& root) {
  std::error_code ec;
  for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::end(it); it.increment(ec)) {
    RemoveTree(it->path());
  }
}

// The work drive d: that the runner made for the tests.
fs::path ScratchDrive() {
  const char* given = std::getenv("AVENDRO_TEST_DRIVE");
  if (given == nullptr || std::tolower(static_cast<unsigned char>(given[0])) != 'd' ||
      given[1] != '\0') {
    throw std::runtime_error(
        "no scratch work drive: the tests need d: over an empty folder, named in "
        "AVENDRO_TEST_DRIVE=d (tools/test-windows makes it)");
  }
  fs::path root = "d:\\";
  if (!fs::is_directory(root)) throw std::runtime_error("the scratch drive d: cannot be opened");
  return root;
}

}  // namespace

TempPrefix::TempPrefix() {
  Empty(ScratchDrive());
  system_drive_before_ = RootNames(Drive('c'));
  root_ = FreshFolder("avendro-test-");
}

TempPrefix::~TempPrefix() {
  Empty(Drive('d'));
  const fs::path system = Drive('c');
  for (const std::string& name : RootNames(system)) {
    if (std::find(system_drive_before_.begin(), system_drive_before_.end(), name) ==
        system_drive_before_.end()) {
      RemoveTree(system / name);
    }
  }
  RemoveTree(root_);
}

fs::path TempPrefix::Drive(char letter) const {
  return fs::path(std::string(1, static_cast<char>(std::tolower(letter))) + ":\\");
}

fs::path TempPrefix::Put(char drive, const std::string& relative, const std::string& bytes) const {
  fs::path path = Drive(drive) / relative;
  if (std::tolower(drive) != 'd') {
    const std::string top = Lower(fs::path(relative).begin()->string());
    if (std::find(system_drive_before_.begin(), system_drive_before_.end(), top) !=
        system_drive_before_.end()) {
      throw std::runtime_error((Drive(drive) / top).string() +
                               " was there before the test, which leaves it alone");
    }
  }
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

void TempPrefix::PutUnseen(char drive, const std::string& relative) const {
  fs::path path = Drive(drive) / relative;
  fs::create_directories(path);
  if (!SetFileAttributesW(path.wstring().c_str(), FILE_ATTRIBUTE_HIDDEN)) {
    throw std::runtime_error("cannot hide " + path.string());
  }
}

bool OnWindows() { return true; }

std::unique_ptr<FileSystem> SystemFileSystem(const TempPrefix&) {
  return std::make_unique<Win32FileSystem>();
}

std::unique_ptr<Launcher> SystemLauncher() { return std::make_unique<Win32Launcher>(kWorkFolder); }

std::unique_ptr<ProcessTable> SystemProcessTable() { return std::make_unique<Win32ProcessTable>(); }

std::unique_ptr<FileDetailsSource> SystemFileDetails(FileSystem&) {
  return std::make_unique<Win32FileDetails>();
}

ProgramDrives::ProgramDrives(const TempPrefix&) {}
ProgramDrives::~ProgramDrives() = default;

}  // namespace avendro::testing
