#include "platform/launcher_linux.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace avendro {
namespace {

// The folder of the records of running scripts, made for this user alone;
// -1 when it cannot be had.
int RecordFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime != nullptr && runtime[0] == '/'
                                 ? std::string(runtime) + "/avendro"
                                 : "/tmp/avendro-" + std::to_string(getuid());
  mkdir(folder.c_str(), 0700);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_uid != getuid() || (st.st_mode & 077) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// The record's name: a hash of the script's native path (FNV-1a).
std::string RecordName(const std::string& key) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, "script-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// The start time of a live process (field 22 of /proc/<pid>/stat), "" for
// one that has ended (a zombie included).
std::string StartTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return "";
  std::istringstream fields(stat.substr(name_end + 2));
  std::string field, state;
  fields >> state;
  for (int i = 4; i <= 22 && fields >> field; ++i) {
  }
  return state == "Z" || state == "X" ? "" : field;
}

}  // namespace

struct LinuxLauncher::Children {
  std::mutex mutex;
  std::set<pid_t> running;
  std::map<pid_t, uint32_t> exit_codes;  // of the ended ones that exited
};

LinuxLauncher::LinuxLauncher() : children_(std::make_shared<Children>()) {}

Status LinuxLauncher::Start(const std::string& path, WindowStyle style, uint64_t* task) {
  std::vector<std::string> args = {"wine", "start"};
  // In its own folder, as on Windows: a script's "cd d:\drubel" changes
  // the folder of d: but not the current drive.
  const size_t cut = path.find_last_of('\\');
  if (cut != std::string::npos) {
    args.push_back("/d");
    args.push_back(path.substr(0, cut == 2 ? 3 : cut));
  }
  args.insert(args.end(), {"/wait", style == WindowStyle::kMinimizedFocus ? "/min" : "/max", path});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  int err = posix_spawnp(&pid, "wine", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err == ENOENT) return Status::Error(path + ": wine non trovato nel PATH");
  if (err != 0) return ErrnoError(path + ": avvio di wine non riuscito", err);

  {
    std::lock_guard<std::mutex> lock(children_->mutex);
    children_->running.insert(pid);
    children_->exit_codes.erase(pid);
  }
  std::thread([children = children_, pid] {
    int wait_status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &wait_status, 0)) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(children->mutex);
    children->running.erase(pid);
    // "wine start /wait" ends with the exit code of the program it ran.
    if (waited == pid && WIFEXITED(wait_status)) {
      children->exit_codes[pid] = static_cast<uint32_t>(WEXITSTATUS(wait_status));
    }
  }).detach();
  *task = static_cast<uint64_t>(pid);
  return Status::Ok();
}

bool LinuxLauncher::Running(uint64_t task) {
  std::lock_guard<std::mutex> lock(children_->mutex);
  return children_->running.count(static_cast<pid_t>(task)) != 0;
}

std::optional<uint32_t> LinuxLauncher::ExitCode(uint64_t task) {
  std::lock_guard<std::mutex> lock(children_->mutex);
  auto it = children_->exit_codes.find(static_cast<pid_t>(task));
  if (it == children_->exit_codes.end()) return std::nullopt;
  return it->second;
}

void LinuxLauncher::ShareRunning(const std::string& key, uint64_t task) {
  const std::string started = StartTime(static_cast<pid_t>(task));
  const int folder = RecordFolder();
  if (folder < 0 || started.empty()) {
    if (folder >= 0) close(folder);
    return;
  }
  const std::string record = std::to_string(task) + " " + started + "\n";
  const std::string name = RecordName(key), temp = name + ".new";
  const int fd =
      openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    const bool written =
        write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
    close(fd);
    if (written) renameat(folder, temp.c_str(), folder, name.c_str());
  }
  close(folder);
}

bool LinuxLauncher::RunningAnywhere(const std::string& key) {
  const int folder = RecordFolder();
  if (folder < 0) return false;
  const std::string name = RecordName(key);
  const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  char buffer[64] = {};
  const ssize_t n = fd >= 0 ? read(fd, buffer, sizeof buffer - 1) : -1;
  if (fd >= 0) close(fd);
  long long pid = 0;
  char started[32] = {};
  const bool running = n > 0 && std::sscanf(buffer, "%lld %31s", &pid, started) == 2 && pid > 0 &&
                       StartTime(static_cast<pid_t>(pid)) == started;
  // The record of a script that has ended goes: the folder keeps none.
  if (fd >= 0 && !running) unlinkat(folder, name.c_str(), 0);
  close(folder);
  return running;
}

}  // namespace avendro
