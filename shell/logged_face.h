#pragma once

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "port/window_port.h"
#include "shell/run_log.h"

namespace avendro {

// A face as the core's procedures see it: each line goes to the log file
// first, then to the face, which only shows it; a line the file refuses is
// followed, on the face only, by one that says why. It also remembers what
// a run with nobody there needs to know of the lines: the programs found
// installed, the last failure and the last lines.
class LoggedFace : public WindowPort {
 public:
  LoggedFace(WindowPort& face, RunLog& log) : face_(face), log_(log) {}

  void AggiungiStato(const std::string& line) override;
  int BoxValue(int slot) override;
  void MarkInstalled(int slot) override;
  bool AskYesNo(Question question, const std::string& prompt, const std::string& title,
                bool no_default) override {
    return face_.AskYesNo(question, prompt, title, no_default);
  }
  void SetPointer(Pointer pointer) override { face_.SetPointer(pointer); }
  void ShowBusy(bool visible) override { face_.ShowBusy(visible); }
  void ShowProgress(const std::string& text) override { face_.ShowProgress(text); }
  void KeepAlive() override { face_.KeepAlive(); }

  // From now on the boxes of `slots` read ticked and all others not,
  // whatever the face shows: the session ticks them for nobody there.
  void Tick(const std::vector<int>& slots) { ticked_ = std::set<int>(slots.begin(), slots.end()); }

  // The slots the scan found installed, in order.
  const std::vector<int>& installed() const { return installed_; }
  // Why the last thing that failed failed: its "Motivo" or its line.
  const std::string& last_failure() const { return last_failure_; }
  // The last lines (as many as a report carries), with their local times.
  const std::deque<std::string>& recent() const { return recent_; }

 private:
  void Remember(const std::string& line);

  WindowPort& face_;
  RunLog& log_;
  std::optional<std::set<int>> ticked_;
  std::vector<int> installed_;
  std::string last_failure_;
  std::deque<std::string> recent_;
};

}  // namespace avendro
