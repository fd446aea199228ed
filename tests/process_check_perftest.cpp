// Times the running-instance check with many processes running:
//   process_check_perftest [COUNT]   (default 2000)
// Starts COUNT copies of /bin/sleep under a name no program uses, times one
// listing, a check with every named box ticked (nothing of this machine
// matches), and the stop of all COUNT copies by name; collects them all.
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
#include "platform/processes_posix.h"
#include "tests/test_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace avendro;
  const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  testing::TempPrefix t;
  const std::string name = "avendro-perf-" + std::to_string(getpid()) + ".exe";
  const std::filesystem::path program = t.root() / name;
  std::filesystem::copy_file("/bin/sleep", program);

  std::vector<pid_t> children;
  std::string arg0 = program.string(), seconds = "600";
  char* args[] = {arg0.data(), seconds.data(), nullptr};
  for (int i = 0; i < count; ++i) {
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, args, environ) != 0) break;
    children.push_back(pid);
  }
  std::printf("%zu processes started\n", children.size());

  PosixProcessTable table;
  std::vector<ProcessEntry> all;
  auto start = Clock::now();
  table.List(&all);
  std::printf("list: %zu processes in %.1f ms\n", all.size(), MsSince(start));

  // Every named box ticked, each name one that no process has.
  testing::RecordingWindow window;
  window.boxes.fill(1);
  NomiProgrammi names = FillNomiProgrammi();
  for (std::string& n : names) {
    if (!n.empty()) n = "nessuno-" + std::to_string(getpid()) + "-" + n;
  }
  start = Clock::now();
  ControlloProgMem(window, table, names);
  std::printf("check of %zu ticked slots: %.1f ms\n", window.lines.size() / 2, MsSince(start));

  std::string esito;
  start = Clock::now();
  TerminaProcesso(table, name, esito);
  std::printf("stop of %zu copies: %.1f ms (%s)\n", children.size(), MsSince(start), esito.c_str());

  for (pid_t pid : children) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return 0;
}
