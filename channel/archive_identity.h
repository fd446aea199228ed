#pragma once

#include <cstdint>
#include <string>

#include "channel/transport.h"
#include "platform/file_system.h"
#include "platform/status.h"

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
Status WriteRecordFile(FileSystem& files, const std::string& path, const std::string& text,
                       Flush flush = Flush::kAll);

}  // namespace avendro
