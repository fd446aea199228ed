#include "platform/launcher_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <vector>

extern char** environ;

namespace avendro {

Status PosixLauncher::Start(const std::string& path, WindowStyle style, uint64_t* task) {
  Reap();
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
  children_.insert(pid);
  *task = static_cast<uint64_t>(pid);
  return Status::Ok();
}

bool PosixLauncher::Running(uint64_t task) {
  Reap();
  return children_.count(static_cast<pid_t>(task)) != 0;
}

void PosixLauncher::Reap() {
  for (auto it = children_.begin(); it != children_.end();) {
    int status = 0;
    pid_t done = waitpid(*it, &status, WNOHANG);
    if (done == *it || (done < 0 && errno == ECHILD)) {
      it = children_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace avendro
