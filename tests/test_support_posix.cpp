#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/file_details_posix.h"
#include "platform/file_system_posix.h"
#include "platform/launcher_linux.h"
#include "platform/processes_linux.h"
#include "tests/test_support.h"

namespace avendro::testing {

namespace fs = std::filesystem;

TempPrefix::TempPrefix() : root_(FreshFolder("avendro-test-")) {
  fs::create_directories(prefix() / "dosdevices");
  Drive('c');
  Drive('d');
}

TempPrefix::~TempPrefix() {
  std::error_code ec;
  // Restore permissions a test may have taken away, then remove everything.
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
}

fs::path TempPrefix::prefix() const { return root_ / "prefix"; }

fs::path TempPrefix::Drive(char letter) const {
  fs::path folder = root_ / (std::string("drive_") + letter);
  fs::path link = prefix() / "dosdevices" / (std::string(1, letter) + ":");
  if (!fs::exists(folder)) fs::create_directories(folder);
  if (!fs::is_symlink(link)) fs::create_directory_symlink(folder, link);
  return folder;
}

DriveMap TempPrefix::Drives() const {
  DriveMap map;
  Status s = DriveMap::Load(prefix().string(), &map);
  if (!s.ok()) throw std::runtime_error(s.message());
  return map;
}

fs::path TempPrefix::Put(char drive, const std::string& relative, const std::string& bytes) const {
  fs::path path = Drive(drive) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

void TempPrefix::PutUnseen(char drive, const std::string& relative) const {
  fs::path path = Drive(drive) / relative;
  fs::create_directories(path.parent_path());
  fs::create_symlink(root_ / "gone", path);
}

bool OnWindows() { return false; }

std::unique_ptr<FileSystem> SystemFileSystem(const TempPrefix& prefix) {
  return std::make_unique<PosixFileSystem>(prefix.Drives());
}

std::unique_ptr<Launcher> SystemLauncher() { return std::make_unique<LinuxLauncher>(); }

std::unique_ptr<ProcessTable> SystemProcessTable() { return std::make_unique<LinuxProcessTable>(); }

std::unique_ptr<FileDetailsSource> SystemFileDetails(FileSystem& files) {
  return std::make_unique<PosixFileDetails>(files);
}

ProgramDrives::ProgramDrives(const TempPrefix& prefix) {
  const char* old = std::getenv("WINEPREFIX");
  had_value_ = old != nullptr;
  old_value_ = old != nullptr ? old : "";
  setenv("WINEPREFIX", prefix.prefix().c_str(), 1);
}

ProgramDrives::~ProgramDrives() {
  if (had_value_) {
    setenv("WINEPREFIX", old_value_.c_str(), 1);
  } else {
    unsetenv("WINEPREFIX");
  }
}

}  // namespace avendro::testing
