// Time per appended status-log line when the log already holds 1,000 lines
// and when it holds 100,000: appends must not grow with the log.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/application.h"
#include "platform/file_details_posix.h"
#include "platform/file_system_posix.h"
#include "platform/launcher_posix.h"
#include "platform/processes_posix.h"

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
  avendro::PosixProcessTable processes;
  avendro::PosixLauncher launcher;
  avendro::PosixFileDetails details(files);
  avendro::Platform platform{files, processes, launcher, details};
  avendro::Ftp ftp(files);
  avendro::Session session(platform, ftp, 'd', "bench");
  avendro::AggSoftware window(platform);
  window.Load(session, QStringLiteral("d:"));
  window.ShowCentred();
  QApplication::processEvents();

  const int kLarge = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string line = "Controllo Memoria zandrotti.exe";
  int lines = 6;  // start-up wrote these
  // Median time per line of five batches of 200 appends, once the log holds
  // `size` lines.
  auto per_line_at = [&](int size) {
    while (lines < size) {
      window.AggiungiStato(line);
      ++lines;
    }
    std::vector<double> batches;
    for (int batch = 0; batch < 5; ++batch) {
      auto start = Clock::now();
      for (int i = 0; i < 200; ++i) window.AggiungiStato(line);
      batches.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                        200);
      lines += 200;
    }
    std::sort(batches.begin(), batches.end());
    return batches[2];
  };
  double small = per_line_at(1000);
  double large = per_line_at(kLarge);
  std::printf(
      "status log append: %.1f us/line at %d lines vs %.1f us/line at 1,000 lines"
      " ratio %.2f (target < 2)\n",
      large, kLarge, small, large / small);
  fs::remove_all(root);
  return 0;
}
