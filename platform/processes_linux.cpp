#include "platform/processes_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "platform/text.h"

namespace avendro {
namespace {

// Reads the start of a file below `dir_fd`, at most `limit` bytes, stopping
// at the first NUL. False when the file cannot be opened or read (the
// process has gone).
bool ReadUpToNul(int dir_fd, const std::string& relative, size_t limit, std::string* out) {
  out->clear();
  int fd = openat(dir_fd, relative.c_str(), O_RDONLY | O_CLOEXEC);
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
  int err = errno;
  close(fd);
  errno = err;
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

// What /proc/<pid>/stat says of a process.
struct ProcStat {
  std::string comm;      // the kernel's name for it
  char state = '?';      // 'Z' and 'X': ended, not yet collected
  uint64_t started = 0;  // field 22, clock ticks after boot
};

// Reads "<pid> (<comm>) <state> ... <starttime> ..."; comm may itself hold
// blanks and brackets, so the fields are counted after the last ')'. False,
// with errno, when it cannot be read.
bool ReadStat(int dir_fd, const std::string& relative, ProcStat* out) {
  std::string text;
  if (!ReadUpToNul(dir_fd, relative, 4096, &text)) return false;
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) {
    errno = EINVAL;
    return false;
  }
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  for (int number = 3; fields >> field; ++number) {
    if (number == 3) out->state = field[0];
    if (number == 22) {
      out->comm = text.substr(open + 1, close - open - 1);
      out->started = std::strtoull(field.c_str(), nullptr, 10);
      return true;
    }
  }
  errno = EINVAL;
  return false;
}

// The program file a process runs, as /proc/<pid>/exe points to it, without
// the " (deleted)" the kernel adds once an update has replaced the file.
// Returns 0, or the errno of the failure.
int ProgramFile(int proc_fd, const std::string& pid, std::string* path) {
  const std::string link = pid + "/exe";
  std::string buf(PATH_MAX, '\0');
  for (;;) {
    ssize_t n = readlinkat(proc_fd, link.c_str(), buf.data(), buf.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      break;
    }
    buf.resize(buf.size() * 2);
  }
  const std::string deleted = " (deleted)";
  if (buf.size() > deleted.size() && buf.ends_with(deleted)) {
    buf.resize(buf.size() - deleted.size());
  }
  *path = buf;
  return 0;
}

// Whether the process runs Wine's loader, which names a Windows program's
// process by its command line. A loader made by another user could give
// its processes any name, so only one of root's or this program's user
// counts. The file is the one the process runs, even when it was replaced.
bool RunsWineLoader(int proc_fd, const std::string& pid, const std::string& program) {
  static const char* const kLoaders[] = {"wine", "wine64", "wine-preloader", "wine64-preloader"};
  const std::string file = program.substr(program.rfind('/') + 1);
  if (std::find(std::begin(kLoaders), std::end(kLoaders), file) == std::end(kLoaders)) return false;
  struct stat st;
  if (fstatat(proc_fd, (pid + "/exe").c_str(), &st, 0) != 0) return false;
  return st.st_uid == 0 || st.st_uid == geteuid();
}

// Whether the process maps a file named `name`, without regard to case. Wine
// maps the .exe it runs (its headers at least); a loader merely started
// under a program's name, its command line being all it has of that
// program, maps none.
bool MapsFileNamed(int proc_fd, const std::string& pid, const std::string& name) {
  std::string maps;
  if (!ReadUpToNul(proc_fd, pid + "/maps", 1 << 24, &maps)) return false;
  const std::string deleted = " (deleted)";
  for (size_t at = 0; at < maps.size();) {
    size_t end = std::min(maps.find('\n', at), maps.size());
    size_t path = maps.find('/', at);  // the fields before the path hold none
    if (path < end) {
      std::string file = LastComponent(maps.substr(path, end - path));
      if (file.ends_with(deleted)) file.resize(file.size() - deleted.size());
      if (EqualsNoCase(file, name)) return true;
    }
    at = end + 1;
  }
  return false;
}

// The stat of a process that still runs: false when it has ended, a zombie
// included.
bool ReadRunning(int proc_fd, const std::string& pid, ProcStat* stat) {
  return ReadStat(proc_fd, pid + "/stat", stat) && stat->state != 'Z' && stat->state != 'X';
}

// One running process. False when it has ended.
bool Describe(int proc_fd, const std::string& pid, ProcessEntry* entry) {
  ProcStat stat;
  std::string command;
  if (!ReadRunning(proc_fd, pid, &stat)) return false;
  if (!ReadUpToNul(proc_fd, pid + "/cmdline", 1 << 16, &command)) return false;
  entry->started = stat.started;
  entry->unverified.clear();
  std::string program;
  if (int err = ProgramFile(proc_fd, pid, &program); err != 0) {
    // A kernel thread, another user's process, or one that has just ended.
    if (!ReadRunning(proc_fd, pid, &stat)) return false;
    entry->image_name = command.empty() ? stat.comm : LastComponent(command);
    entry->unverified = std::string("programma non verificabile (") + std::strerror(err) + ")";
  } else if (!command.empty() && RunsWineLoader(proc_fd, pid, program) &&
             MapsFileNamed(proc_fd, pid, LastComponent(command))) {
    entry->image_name = LastComponent(command);
  } else {
    entry->image_name = program.substr(program.rfind('/') + 1);
  }
  return true;
}

int SendSignal(int pidfd, int signal) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// Signals through a pidfd never reach a later process given the same id;
// the start time tells whether the pidfd's process is the listed one.
Status KillIfListed(int pidfd, const ProcessEntry& process, const std::string& what) {
  ProcStat stat;
  bool read = ReadStat(AT_FDCWD, "/proc/" + std::to_string(process.id) + "/stat", &stat);
  int read_error = errno;
  // An id is not given out again while its process runs or waits to be
  // collected, so if the pidfd's process is alive now, the read was of it.
  if (SendSignal(pidfd, 0) != 0) return errno == ESRCH ? Status::Ok() : ErrnoError(what, errno);
  if (!read) return ErrnoError(what, read_error);
  if (process.started != 0 && stat.started != process.started) return Status::Ok();
  if (SendSignal(pidfd, SIGKILL) != 0 && errno != ESRCH) return ErrnoError(what, errno);
  return Status::Ok();
}

}  // namespace

Status LinuxProcessTable::List(std::vector<ProcessEntry>* out) {
  out->clear();
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), closedir);
  if (!dir) return ErrnoError("/proc", errno);
  int proc_fd = dirfd(dir.get());
  ProcessEntry entry;
  while (dirent* e = readdir(dir.get())) {
    if (!IsPid(e->d_name)) continue;
    unsigned long id = std::strtoul(e->d_name, nullptr, 10);
    if (id == 0 || id > INT_MAX) continue;
    if (!Describe(proc_fd, e->d_name, &entry)) continue;  // ended meanwhile
    entry.id = static_cast<uint32_t>(id);
    out->push_back(entry);
  }
  return Status::Ok();
}

Status LinuxProcessTable::Terminate(const ProcessEntry& process) {
  const std::string what = "processo " + std::to_string(process.id);
  // No process has id 0 or one beyond the signed range of a pid.
  if (process.id == 0 || process.id > INT_MAX) {
    return Status::Error(what + ": identificativo non valido");
  }
  if (process.id == SelfId()) return Status::Error(what + ": è questo programma");
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(process.id), 0));
  if (pidfd < 0) return errno == ESRCH ? Status::Ok() : ErrnoError(what, errno);
  Status status = KillIfListed(pidfd, process, what);
  close(pidfd);
  return status;
}

uint32_t LinuxProcessTable::SelfId() { return static_cast<uint32_t>(getpid()); }

}  // namespace avendro
