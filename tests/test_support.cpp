#include "tests/test_support.h"

#include <fstream>
#include <random>
#include <sstream>

namespace avendro::testing {

namespace fs = std::filesystem;

fs::path FreshFolder(const std::string& stem) {
  std::random_device rd;
  fs::path folder;
  do {
    folder = fs::temp_directory_path() / (stem + std::to_string(rd()));
  } while (!fs::create_directories(folder));
  return folder;
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
