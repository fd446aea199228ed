#include "shell/night_report.h"

#include <cctype>
#include <sstream>

#include "platform/local_time.h"

namespace avendro {

std::string ReportFileName(const std::string& shop) {
  std::string name;
  for (unsigned char c : shop) {
    name += std::isalnum(c) != 0 || c == '-' || c == '_' ? static_cast<char>(c) : '_';
  }
  return (name.empty() ? "_" : name) + ".txt";
}

std::string LastSuccessOf(const std::string& earlier_report) {
  static const std::string kField = "ultimo successo: ";
  std::istringstream in(earlier_report);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "--- registro ---") break;
    if (line.starts_with(kField)) return line.substr(kField.size());
  }
  return "";
}

std::string ReportText(const NightReport& report) {
  std::string text;
  auto line = [&text](const std::string& field, const std::string& value) {
    text += field + ": " + value + "\r\n";
  };
  line("negozio", report.shop);
  line("unità", report.drive);
  line("versione", report.version);
  line("inizio", LocalTimeText(report.started));
  line("fine", LocalTimeText(report.ended));
  line("fine utc", UtcTimeText(report.ended));
  line("codice di uscita", std::to_string(report.exit_code));
  line("ultimo successo",
       report.exit_code == 0 ? UtcTimeText(report.ended) : report.last_success_utc);
  for (const auto& [program, outcome] : report.programs) line("programma", program + " " + outcome);
  text += "--- registro ---\r\n";
  for (const std::string& logged : report.log_lines) text += logged + "\r\n";
  return text;
}

}  // namespace avendro
