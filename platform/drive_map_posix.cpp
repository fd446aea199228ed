#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/drive_map.h"
#include "platform/text.h"

namespace avendro {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Canonical(const std::string& path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf) == nullptr) return "";
  return buf;
}

// The entry of `folder` named `name` without regard to case: the exact name
// when it exists, else the first match in name order, else "".
std::string FindNoCase(const std::string& folder, const std::string& name) {
  struct stat st;
  if (lstat((folder + "/" + name).c_str(), &st) == 0) return name;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return "";
  std::string best;
  while (dirent* e = readdir(dir.get())) {
    std::string entry = e->d_name;
    if (EqualsNoCase(entry, name) && (best.empty() || entry < best)) best = entry;
  }
  return best;
}

}  // namespace

std::string DriveMap::DefaultPrefix() {
  const char* env = std::getenv("WINEPREFIX");
  if (env != nullptr && *env != '\0') return env;
  const char* home = std::getenv("HOME");
  std::string h = home != nullptr ? home : "";
  if (h.empty()) {
    if (passwd* pw = getpwuid(getuid())) h = pw->pw_dir;
  }
  return h + "/.wine";
}

Status DriveMap::Load(const std::string& prefix, DriveMap* out) {
  if (!IsFolder(prefix)) return Status::Error("La cartella " + prefix + " non esiste");
  std::string devices = prefix + "/dosdevices";
  if (!IsFolder(devices)) return Status::Error("La cartella " + devices + " non esiste");
  DriveMap map;
  map.prefix_ = prefix;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(devices.c_str()), closedir);
  if (!dir) return Status::Error("La cartella " + devices + " non si può leggere");
  while (dirent* e = readdir(dir.get())) {
    std::string entry = e->d_name;
    if (entry.size() != 2 || entry[1] != ':' || !std::isalpha(static_cast<unsigned char>(entry[0])))
      continue;
    std::string folder = Canonical(devices + "/" + entry);
    if (!folder.empty() && IsFolder(folder)) map.Set(entry[0], folder);
  }
  *out = std::move(map);
  return Status::Ok();
}

void DriveMap::Set(char letter, const std::string& folder) {
  std::string canonical = Canonical(folder);
  roots_[static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))] =
      canonical.empty() ? folder : canonical;
}

std::string DriveMap::Root(char letter) const {
  auto it = roots_.find(static_cast<char>(std::tolower(static_cast<unsigned char>(letter))));
  return it == roots_.end() ? "" : it->second;
}

char DriveMap::DriveOf(const std::string& folder) const {
  std::string path = Canonical(folder);
  if (path.empty()) path = folder;
  char best = 0;
  size_t best_length = 0;
  for (const auto& [letter, root] : roots_) {
    bool inside = path == root || root == "/" ||
                  (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                   path[root.size()] == '/');
    if (inside && (best == 0 || root.size() > best_length)) {
      best = letter;
      best_length = root.size();
    }
  }
  return best;
}

std::string ResolveBelow(const std::string& root, const std::string& tail) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : tail + "\\") {
    if (c == '\\' || c == '/') {
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += c;
    }
  }
  // Windows drops the trailing blanks and dots of the last component.
  bool folder_path = !tail.empty() && (tail.back() == '\\' || tail.back() == '/');
  if (!parts.empty() && !folder_path) {
    std::string& last = parts.back();
    while (!last.empty() && (last.back() == ' ' || last.back() == '.')) last.pop_back();
    if (last.empty()) parts.pop_back();
  }
  std::string path = root == "/" ? "" : root;
  bool exists = true;
  for (const std::string& p : parts) {
    std::string name = p;
    if (exists) {
      std::string found = FindNoCase(path.empty() ? "/" : path, p);
      if (found.empty()) {
        exists = false;
      } else {
        name = found;
      }
    }
    path += "/" + name;
  }
  return path.empty() ? "/" : path;
}

}  // namespace avendro
