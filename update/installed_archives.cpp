#include "update/installed_archives.h"

#include <map>
#include <sstream>

#include "catalogue/catalogue.h"
#include "platform/text.h"

namespace avendro {
namespace {

// Records are a few lines; a longer file is not ours.
constexpr size_t kMaxRecordFile = 256 * 1024;

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// archive (lower case) -> identity; lines of another shape are dropped.
std::map<std::string, std::string> ParseRecord(const std::string& text) {
  std::map<std::string, std::string> installed;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t blank = line.find(' ');
    if (blank == 0 || blank == std::string::npos || blank + 1 == line.size()) continue;
    installed[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return installed;
}

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

Status WriteRecordFile(FileSystem& files, const std::string& path, const std::string& text) {
  // The work folder is made by the scan; a drive without it gets it here.
  const std::string folder = FolderOf(path);
  std::string found;
  Status status = files.FindEntry(folder, kMaskDirectory, &found);
  if (status.ok() && found.empty()) status = files.CreateFolder(folder);
  if (status.ok()) status = files.WriteFile(path, text);
  return status;
}

InstalledArchives::InstalledArchives(FileSystem& files, char letter)
    : files_(files), path_(OnDrive(letter, kFile)) {}

Status InstalledArchives::Find(const std::string& archive, std::string* identity) {
  identity->clear();
  std::string text;
  Status status = ReadRecordFile(files_, path_, &text);
  if (!status.ok()) return status;
  const auto installed = ParseRecord(text);
  auto it = installed.find(Lower(archive));
  if (it != installed.end()) *identity = it->second;
  return Status::Ok();
}

Status InstalledArchives::Record(const std::string& archive, const ArchiveIdentity& identity) {
  std::string text;
  Status status = ReadRecordFile(files_, path_, &text);
  if (!status.ok()) return status;
  auto installed = ParseRecord(text);
  installed[Lower(archive)] = identity.text;
  text.clear();
  for (const auto& [name, known] : installed) text += name + " " + known + "\r\n";
  return WriteRecordFile(files_, path_, text);
}

}  // namespace avendro
