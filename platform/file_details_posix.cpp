#include "platform/file_details_posix.h"
#include "platform/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

namespace avendro {
namespace {

// The columns, in the order and with the headers of an Italian desktop.
enum Column {
  kNome,
  kDimensione,
  kTipo,
  kUltimaModifica,
  kDataCreazione,
  kAttributi,
  kProprietario
};
const char* const kHeaders[] = {"Nome",           "Dimensione", "Tipo elemento", "Ultima modifica",
                                "Data creazione", "Attributi",  "Proprietario"};
constexpr size_t kColumnCount = sizeof kHeaders / sizeof kHeaders[0];

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "dd/MM/yyyy HH:mm" in local time.
std::string DateTime(time_t when) {
  struct tm local;
  if (localtime_r(&when, &local) == nullptr) return "";
  char buf[32];
  size_t n = std::strftime(buf, sizeof buf, "%d/%m/%Y %H:%M", &local);
  return std::string(buf, n);
}

// "0 byte", "512 byte", "1,50 KB", "15,0 KB", "150 KB", "2,34 MB": three
// figures, cut rather than rounded, decimal comma.
std::string Size(unsigned long long bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " byte";
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1000 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  int decimals = value < 10 ? 2 : value < 100 ? 1 : 0;
  double scale = std::pow(10.0, decimals);
  value = std::floor(value * scale) / scale;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  std::string text = buf;
  for (char& c : text) c = c == '.' ? ',' : c;
  return text + " " + kUnits[unit];
}

std::string ItemType(const std::string& name, bool folder) {
  if (folder) return "Cartella di file";
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "File";
  std::string extension = Lower(name.substr(dot + 1));
  if (extension == "exe") return "Applicazione";
  if (extension == "bat") return "File batch Windows";
  if (extension == "txt") return "Documento di testo";
  return "File " + Upper(extension);
}

// R read-only, H hidden (a leading dot), D folder, A archive (every file).
std::string Attributes(const std::string& name, const struct stat& st) {
  std::string text;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) text += 'R';
  if (name[0] == '.') text += 'H';
  if (S_ISDIR(st.st_mode)) text += 'D';
  if (S_ISREG(st.st_mode)) text += 'A';
  return text;
}

std::string Owner(uid_t uid) {
  struct passwd pw;
  struct passwd* result = nullptr;
  char buf[4096];
  if (getpwuid_r(uid, &pw, buf, sizeof buf, &result) == 0 && result != nullptr) {
    return result->pw_name;
  }
  return std::to_string(uid);
}

// The birth time where the file system keeps one, else "".
std::string Created(const std::string& path) {
  struct statx stx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &stx) != 0) return "";
  if ((stx.stx_mask & STATX_BTIME) == 0) return "";
  return DateTime(static_cast<time_t>(stx.stx_btime.tv_sec));
}

}  // namespace

Status PosixFileDetails::Query(const std::string& folder, const std::string& name,
                               std::vector<DetailColumn>* columns, bool* found) {
  columns->clear();
  *found = false;
  std::string native;
  Status status = files_.NativePath(folder, &native);
  if (!status.ok()) return status;

  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(native.c_str()), closedir);
  if (!dir) return ErrnoError(folder, errno);
  // Items come in name order; the first one named `name`, case aside, counts.
  const std::string wanted = Lower(name);
  std::string match;
  errno = 0;
  while (dirent* e = readdir(dir.get())) {
    std::string entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (Lower(entry) == wanted && (match.empty() || entry < match)) match = entry;
  }
  if (errno != 0) return ErrnoError(folder, errno);

  for (const char* header : kHeaders) columns->emplace_back(header, "");
  if (match.empty()) return Status::Ok();

  const std::string path = native + "/" + match;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    bool separated = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
    return ErrnoError(folder + (separated ? "" : "\\") + match, errno);
  }
  bool is_folder = S_ISDIR(st.st_mode);
  (*columns)[kNome].second = match;
  (*columns)[kDimensione].second =
      is_folder ? "" : Size(static_cast<unsigned long long>(st.st_size));
  (*columns)[kTipo].second = ItemType(match, is_folder);
  (*columns)[kUltimaModifica].second = DateTime(st.st_mtime);
  (*columns)[kDataCreazione].second = Created(path);
  (*columns)[kAttributi].second = Attributes(match, st);
  (*columns)[kProprietario].second = Owner(st.st_uid);
  *found = true;
  static_assert(kProprietario + 1 == kColumnCount);
  return Status::Ok();
}

}  // namespace avendro
