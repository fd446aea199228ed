#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "channel/archive_identity.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace avendro {

// "<drive>:\drubel\avendro-installati.txt": one line "<archive in lower
// case> <identity>" for each archive whose update script ended with 0 on
// that drive, so that a later night leaves alone what has not changed.
class InstalledArchives {
 public:
  InstalledArchives(FileSystem& files, char letter);

  // The identity recorded for `archive`; "" when none.
  Status Find(const std::string& archive, std::string* identity);
  // Records each identity as the installed one of its archive, in one
  // write of the file.
  Status Record(const std::vector<std::pair<std::string, ArchiveIdentity>>& installed);

  const std::string& path() const { return path_; }

 private:
  FileSystem& files_;
  std::string path_;
};

}  // namespace avendro
