#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"
#include "update/transport.h"

namespace avendro {

// What tells one archive on the server from another without fetching it.
struct ArchiveIdentity {
  // "firma <unix time>" (the time of its signature) or "server <size>
  // <unix time>" (what the server tells of the file); empty when the server
  // tells too little to know it again.
  std::string text;
  int64_t time = -1;  // when it was signed, or last changed on the server
};

// A signed archive is known by the time in its signature's trusted comment,
// which names the file too.
ArchiveIdentity SignedIdentity(int64_t timestamp);
// An unsigned one by the server's size and time, when it tells both.
ArchiveIdentity ServerIdentity(const RemoteFile& file);

// The small files of the work folder that remember something between runs:
// read whole (none is "", as is a drive without the work folder), and
// written beside themselves and moved over (the work folder made first
// when it is missing).
Status ReadRecordFile(FileSystem& files, const std::string& path, std::string* text);
Status WriteRecordFile(FileSystem& files, const std::string& path, const std::string& text);

// "<drive>:\drubel\avendro-installati.txt": one line "<archive in lower
// case> <identity>" for each archive whose update script ended with 0 on
// that drive, so that a later night leaves alone what has not changed.
class InstalledArchives {
 public:
  InstalledArchives(FileSystem& files, char letter);

  // The identity recorded for `archive`; "" when none.
  Status Find(const std::string& archive, std::string* identity);
  // Records `identity` as the installed one of `archive`.
  Status Record(const std::string& archive, const ArchiveIdentity& identity);

  const std::string& path() const { return path_; }
  static constexpr char kFile[] = ":\\drubel\\avendro-installati.txt";

 private:
  FileSystem& files_;
  std::string path_;
};

}  // namespace avendro
