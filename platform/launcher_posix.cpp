#include "platform/launcher_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

extern char** environ;

namespace avendro {

struct PosixLauncher::Children {
  std::mutex mutex;
  std::set<pid_t> running;
  std::map<pid_t, uint32_t> exit_codes;  // of the ended ones that exited
};

PosixLauncher::PosixLauncher() : children_(std::make_shared<Children>()) {}

Status PosixLauncher::Start(const std::string& path, WindowStyle style, uint64_t* task) {
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

bool PosixLauncher::Running(uint64_t task) {
  std::lock_guard<std::mutex> lock(children_->mutex);
  return children_->running.count(static_cast<pid_t>(task)) != 0;
}

std::optional<uint32_t> PosixLauncher::ExitCode(uint64_t task) {
  std::lock_guard<std::mutex> lock(children_->mutex);
  auto it = children_->exit_codes.find(static_cast<pid_t>(task));
  if (it == children_->exit_codes.end()) return std::nullopt;
  return it->second;
}

}  // namespace avendro
