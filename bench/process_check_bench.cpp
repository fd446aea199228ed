// One full running-instance check, with the boxes of slots 0..15 and 19
// ticked, while COUNT unrelated processes run, against `pkill -x NAME` run
// once per name:   process_check_bench [COUNT]   (default 2000)
// Prints the rounds, the two taken in turns, for bench/figures.py to report.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "checks/controllo_prog_mem.h"
#include "platform/processes_linux.h"
#include "rounds.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class CountingWindow : public avendro::WindowPort {
 public:
  void AggiungiStato(const std::string&) override { ++lines; }
  int BoxValue(int slot) override { return slot <= 15 || slot == 19 ? 1 : 0; }
  void MarkInstalled(int) override {}
  bool AskYesNo(avendro::Question, const std::string&, const std::string&, bool) override {
    return false;
  }
  void SetPointer(avendro::Pointer) override {}
  void ShowBusy(bool) override {}
  void KeepAlive() override {}
  void ShowProgress(const std::string&) override {}
  int lines = 0;
};

pid_t Spawn(const std::vector<std::string>& argv, bool search_path) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = search_path ? posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ)
                       : posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ);
  return rc == 0 ? pid : -1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  fs::path dir = fs::temp_directory_path() / ("avendro-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path idle = dir / "idle-shop-tool";
  fs::copy_file("/bin/sleep", idle);

  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    pid_t pid = Spawn({idle.string(), "900"}, false);
    if (pid < 0) break;
    children.push_back(pid);
  }

  avendro::NomiProgrammi names = avendro::FillNomiProgrammi();
  avendro::LinuxProcessTable table;
  const std::string title = "running-instance check, boxes 0-15 and 19 ticked, " +
                            std::to_string(children.size()) + " other processes";
  {
    avendro::bench::Rounds figure(title.c_str(), "ms", "pkill -x per name",
                                  avendro::bench::Kind::kLower, "< 1");
    figure.InTurns(
        7, true,
        [&] {
          CountingWindow window;
          auto start = Clock::now();
          avendro::ControlloProgMem(window, table, names);
          return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        },
        [&] {
          auto start = Clock::now();
          for (const std::string& name : names) {
            if (name.empty()) continue;
            pid_t pid = Spawn({"pkill", "-x", name}, true);
            if (pid > 0) waitpid(pid, nullptr, 0);
          }
          return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        });
  }

  for (pid_t pid : children) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  fs::remove_all(dir);
  return 0;
}
