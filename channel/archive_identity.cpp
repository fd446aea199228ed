#include "channel/archive_identity.h"

namespace avendro {
namespace {

// Records are a few lines; a longer file is not ours.
constexpr size_t kMaxRecordFile = 256 * 1024;

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

}  // namespace

ArchiveIdentity SignedIdentity(int64_t timestamp) {
  return {"firma " + std::to_string(timestamp), timestamp};
}

ArchiveIdentity ServerIdentity(const RemoteFile& file) {
  if (file.size < 0 || file.modified < 0) return {};
  return {"server " + std::to_string(file.size) + " " + std::to_string(file.modified),
          file.modified};
}

Status ReadRecordFile(FileSystem& files, const std::string& path, std::string* text) {
  text->clear();
  std::string found;
  Status status = files.FindEntry(FolderOf(path), kMaskDirectory, &found);
  if (status.ok() && !found.empty()) status = files.ReadSmallFile(path, kMaxRecordFile, text);
  return status;
}

Status WriteRecordFile(FileSystem& files, const std::string& path, const std::string& text,
                       Flush flush) {
  // The work folder is made by the scan; a drive without it gets it here.
  const std::string folder = FolderOf(path);
  std::string found;
  Status status = files.FindEntry(folder, kMaskDirectory, &found);
  if (status.ok() && found.empty()) status = files.CreateFolder(folder);
  if (status.ok()) status = files.WriteFile(path, text, flush);
  return status;
}

}  // namespace avendro
