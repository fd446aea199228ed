#include "update/installed_archives.h"

#include <map>
#include <sstream>

#include "catalogue/catalogue.h"
#include "platform/text.h"

namespace avendro {
namespace {

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

InstalledArchives::InstalledArchives(FileSystem& files, char letter)
    : files_(files), path_(OnDrive(letter, kInstalledRecord)) {}

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

Status InstalledArchives::Record(
    const std::vector<std::pair<std::string, ArchiveIdentity>>& installed) {
  std::string text;
  Status status = ReadRecordFile(files_, path_, &text);
  if (!status.ok()) return status;
  auto record = ParseRecord(text);
  for (const auto& [archive, identity] : installed) record[Lower(archive)] = identity.text;
  text.clear();
  for (const auto& [name, known] : record) text += name + " " + known + "\r\n";
  // A record lost by a power cut costs a night one more download of what
  // it named; a torn one cannot happen.
  return WriteRecordFile(files_, path_, text, Flush::kData);
}

}  // namespace avendro
