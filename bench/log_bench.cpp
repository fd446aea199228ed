// One window whose status log bench/log_bench.py fills and times; the
// script runs two of them, one holding 1,000 lines and one 100,000, and
// takes their batches in turns. Commands on standard input, one a line:
//   fill N     writes lines until the log holds N; answers "ready"
//   append K   writes K lines; answers the microseconds a line took
// Lines are written as a run writes them: each painted at once, and the
// event loop never runs in between.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/application.h"
#include "platform/file_details_posix.h"
#include "platform/file_system_posix.h"
#include "platform/launcher_linux.h"
#include "platform/processes_linux.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char* argv[]) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  avendro::InstallFontSubstitutes();

  fs::path root = fs::temp_directory_path() / ("avendro-logbench-" + std::to_string(getpid()));
  fs::create_directories(root / "prefix" / "dosdevices");
  fs::create_directories(root / "d");
  fs::create_directory_symlink(root / "d", root / "prefix" / "dosdevices" / "d:");
  avendro::DriveMap drives;
  if (!avendro::DriveMap::Load((root / "prefix").string(), &drives).ok()) {
    std::fprintf(stderr, "log_bench: cannot read the drives of %s\n", root.c_str());
    return 1;
  }
  avendro::PosixFileSystem files(drives);
  avendro::LinuxProcessTable processes;
  avendro::LinuxLauncher launcher;
  avendro::PosixFileDetails details(files);
  avendro::Platform platform{files, processes, launcher, details};
  avendro::UpdateServer ftp(files);
  avendro::Session session(platform, ftp, 'd', "bench");
  avendro::AggSoftware window;
  window.Load(session, QStringLiteral("d:"));
  window.ShowCentred();
  QApplication::processEvents();
  fs::remove_all(root);

  const std::string line = "Controllo Memoria zandrotti.exe";
  long lines = 6;  // start-up wrote these
  std::string command;
  long count = 0;
  while (std::cin >> command >> count) {
    if (command == "fill") {
      for (; lines < count; ++lines) window.AggiungiStato(line);
      std::printf("ready\n");
    } else if (command == "append" && count > 0) {
      const auto start = Clock::now();
      for (long i = 0; i < count; ++i) window.AggiungiStato(line);
      lines += count;
      std::printf("%.3f\n",
                  std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                      static_cast<double>(count));
    } else {
      std::fprintf(stderr, "log_bench: unknown command %s %ld\n", command.c_str(), count);
      return 2;
    }
    std::fflush(stdout);
  }
  return 0;
}
