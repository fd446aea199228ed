#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace avendro {

// What one run without a window tells the vendor: a small text file per
// shop in the update server's report folder, overwritten by each run, that
// tools/rapporti reads. Lines "<field>: <value>", then the last lines of
// the log after a line "--- registro ---".
struct NightReport {
  std::string shop;     // --negozio, or the computer's name and the drive
  std::string version;  // Avendro's
  std::string drive;    // "D:"
  std::chrono::system_clock::time_point started, ended;
  int exit_code = 0;
  // "aggiornato", "nessun aggiornamento", "aggiornamento disponibile" or
  // "non riuscito: <reason>", per program named as on the command line.
  std::vector<std::pair<std::string, std::string>> programs;
  // The last successful run (exit code 0), carried from run to run in the
  // drive's copy of the report; "" before the first.
  std::string last_success_utc;
  std::vector<std::string> log_lines;  // the last lines, with their times
};

// The report's text, CR LF between lines.
std::string ReportText(const NightReport& report);

// "negozio.txt" for the shop's name: letters, digits, '-' and '_' kept,
// anything else '_'.
std::string ReportFileName(const std::string& shop);

// The value of "ultimo successo" in an earlier report's text; "" when none.
std::string LastSuccessOf(const std::string& earlier_report);

// How many lines of the log a report carries.
inline constexpr size_t kReportLogLines = 40;

}  // namespace avendro
