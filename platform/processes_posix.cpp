#include "platform/processes_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace avendro {
namespace {

// Reads the start of a file below /proc, at most `limit` bytes, stopping at
// the first NUL. False when the file cannot be opened or read (the process
// has gone).
bool ReadUpToNul(int proc_fd, const std::string& relative, size_t limit, std::string* out) {
  out->clear();
  int fd = openat(proc_fd, relative.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  bool ok = true;
  while (out->size() < limit) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    const char* nul = static_cast<const char*>(std::memchr(buf, '\0', static_cast<size_t>(n)));
    out->append(buf, nul != nullptr ? static_cast<size_t>(nul - buf) : static_cast<size_t>(n));
    if (nul != nullptr) break;
  }
  close(fd);
  return ok;
}

// The last component of a path written with "/" or "\".
std::string LastComponent(const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool IsPid(const char* name) {
  if (*name == '\0') return false;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// The image name of one process: the last component of argv[0], or the
// kernel's name for it when the command line is empty (kernel threads).
// False when the process has ended, a zombie included: it no longer runs.
bool ImageName(int proc_fd, const char* pid, std::string* name) {
  std::string text;
  if (!ReadUpToNul(proc_fd, std::string(pid) + "/cmdline", 1 << 16, &text)) return false;
  if (!text.empty()) {
    *name = LastComponent(text);
    return true;
  }
  // "<pid> (<comm>) <state> ...": comm may itself hold blanks and brackets.
  if (!ReadUpToNul(proc_fd, std::string(pid) + "/stat", 4096, &text)) return false;
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  char state = close + 2 < text.size() ? text[close + 2] : '?';
  if (state == 'Z' || state == 'X') return false;
  *name = text.substr(open + 1, close - open - 1);
  return true;
}

}  // namespace

Status PosixProcessTable::List(std::vector<ProcessEntry>* out) {
  out->clear();
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), closedir);
  if (!dir) return ErrnoError("/proc", errno);
  int proc_fd = dirfd(dir.get());
  std::string name;
  while (dirent* e = readdir(dir.get())) {
    if (!IsPid(e->d_name)) continue;
    unsigned long id = std::strtoul(e->d_name, nullptr, 10);
    if (id == 0 || id > INT_MAX) continue;
    if (!ImageName(proc_fd, e->d_name, &name)) continue;  // ended meanwhile
    out->push_back({static_cast<uint32_t>(id), name});
  }
  return Status::Ok();
}

Status PosixProcessTable::Terminate(uint32_t id) {
  const std::string what = "processo " + std::to_string(id);
  // kill() reads 0 and negative ids as whole process groups.
  if (id == 0 || id > INT_MAX) return Status::Error(what + ": identificativo non valido");
  if (id == SelfId()) return Status::Error(what + ": è questo programma");
  if (kill(static_cast<pid_t>(id), SIGKILL) != 0) return ErrnoError(what, errno);
  return Status::Ok();
}

uint32_t PosixProcessTable::SelfId() { return static_cast<uint32_t>(getpid()); }

}  // namespace avendro
