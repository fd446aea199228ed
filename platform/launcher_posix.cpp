#include "platform/launcher_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

extern char** environ;

namespace avendro {

struct PosixLauncher::Children {
  std::mutex mutex;
  std::set<pid_t> running;
};

PosixLauncher::PosixLauncher() : children_(std::make_shared<Children>()) {}

Status PosixLauncher::Start(const std::string& path, WindowStyle style, uint64_t* task) {
  std::vector<std::string> args = {"wine", "start", "/wait",
                                   style == WindowStyle::kMinimizedFocus ? "/min" : "/max", path};
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
  }
  std::thread([children = children_, pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(children->mutex);
    children->running.erase(pid);
  }).detach();
  *task = static_cast<uint64_t>(pid);
  return Status::Ok();
}

bool PosixLauncher::Running(uint64_t task) {
  std::lock_guard<std::mutex> lock(children_->mutex);
  return children_->running.count(static_cast<pid_t>(task)) != 0;
}

}  // namespace avendro
