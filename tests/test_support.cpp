#include "tests/test_support.h"

#include <fstream>
#include <random>
#include <sstream>

namespace avendro::testing {

namespace fs = std::filesystem;

TempPrefix::TempPrefix() {
  std::random_device rd;
  fs::path base = fs::temp_directory_path();
  do {
    root_ = base / ("avendro-test-" + std::to_string(rd()));
  } while (fs::exists(root_));
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

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string LogOf(const std::vector<std::string>& lines) {
  StatusLog log;
  for (const auto& line : lines) log.Append(line);
  return log.text();
}

}  // namespace avendro::testing
