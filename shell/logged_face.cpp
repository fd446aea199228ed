#include "shell/logged_face.h"

#include <chrono>

#include "platform/local_time.h"
#include "shell/night_report.h"
#include "shell/status_log.h"

namespace avendro {

void LoggedFace::AggiungiStato(const std::string& line) {
  Status status = log_.Write("- " + Printable(line));
  face_.AggiungiStato(line);
  Remember(line);
  if (status.ok()) return;
  const std::string notice = "Impossibile scrivere il registro " + status.message();
  face_.AggiungiStato(notice);
  Remember(notice);
}

int LoggedFace::BoxValue(int slot) {
  if (ticked_) return ticked_->count(slot) != 0 ? 1 : 0;
  return face_.BoxValue(slot);
}

void LoggedFace::MarkInstalled(int slot) {
  installed_.push_back(slot);
  face_.MarkInstalled(slot);
}

void LoggedFace::Remember(const std::string& line) {
  const std::string shown = Printable(line);
  recent_.push_back(LocalTimeText(std::chrono::system_clock::now()) + " - " + shown);
  if (recent_.size() > kReportLogLines) recent_.pop_front();
  if (shown.starts_with("Motivo: ")) {
    last_failure_ = shown.substr(8);
  } else if (shown.starts_with("Impossibile ") || shown.starts_with("La Directory")) {
    last_failure_ = shown;
  }
}

}  // namespace avendro
