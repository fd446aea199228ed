#include "shell/unattended_update.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/machine.h"
#include "platform/text.h"
#include "shell/logged_face.h"
#include "shell/night_report.h"
#include "shell/session.h"

namespace avendro {

std::string ProgramName(int slot) {
  std::string name(Row(slot).processName);
  if (name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".exe"))
    name.resize(name.size() - 4);
  return name;
}

namespace {

// The slots of `wanted` after `slot`.
std::vector<int> After(const std::vector<int>& wanted, int slot) {
  std::vector<int> later;
  std::copy_if(wanted.begin(), wanted.end(), std::back_inserter(later),
               [slot](int s) { return s > slot; });
  return later;
}

bool Contains(const std::vector<int>& slots, int slot) {
  return std::find(slots.begin(), slots.end(), slot) != slots.end();
}

std::string DriveName(char letter) {
  return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) + ":";
}

constexpr char kUpdated[] = "aggiornato";
constexpr char kNothingNew[] = "nessun aggiornamento";
constexpr char kUpdateFound[] = "aggiornamento disponibile";
constexpr char kFailed[] = "non riuscito: ";

// One run of the command line over a session: what each program came to,
// for the exit code and the vendor's report. The session's actions carry the
// lines; `remote` is its runs', for what only a night asks of them (what is
// new, the wait for the scripts and which of them failed).
class Night {
 public:
  Night(Session& session, LoggedFace& face, RemoteUpdate& remote)
      : session_(session), face_(face), remote_(remote) {}

  int Run(const UnattendedRequest& request) {
    std::vector<int> slots = InstalledOnes(request);
    if (slots.empty()) {
      session_.AggiungiStato((request.programs.empty()
                                  ? "Nessun programma installato sull'unità "
                                  : "Nessuno dei programmi indicati è installato sull'unità ") +
                             DriveName(session_.letter()));
      return kExitSomeFailed;
    }
    if (!request.force) {
      std::vector<int> updates;
      int unknown = 0;
      if (!remote_.FindUpdates(slots, &updates, &unknown)) return FailAll(slots, true);
      for (int slot : slots) {
        if (!Contains(updates, slot)) outcomes_[slot] = kNothingNew;
      }
      if (request.check_only) {
        for (int slot : updates) outcomes_[slot] = kUpdateFound;
        if (failed_ || unknown > 0) return kExitSomeFailed;
        return updates.empty() ? kExitDone : kExitUpdatesFound;
      }
      slots = std::move(updates);
      if (slots.empty()) {
        session_.AggiungiStato("Nessun programma da aggiornare");
        return failed_ ? kExitSomeFailed : kExitDone;
      }
    }
    return Update(std::move(slots));
  }

  // Each program named, or found, with what it came to.
  std::vector<std::pair<std::string, std::string>> Outcomes() const {
    std::vector<std::pair<std::string, std::string>> list;
    for (const auto& [slot, outcome] : outcomes_) list.emplace_back(ProgramName(slot), outcome);
    return list;
  }

 private:
  // The programs of the request that are installed; a named one that is
  // not gets a line and counts as failed.
  std::vector<int> InstalledOnes(const UnattendedRequest& request) {
    if (request.programs.empty()) return face_.installed();
    std::vector<int> slots;
    for (int slot : request.programs) {
      if (Contains(face_.installed(), slot)) {
        slots.push_back(slot);
        continue;
      }
      const std::string why = "non è installato sull'unità " + DriveName(session_.letter());
      session_.AggiungiStato("Il programma " + ProgramName(slot) + " " + why);
      Fail(slot, why);
    }
    return slots;
  }

  void Fail(int slot, const std::string& why) {
    outcomes_[slot] = kFailed + why;
    failed_ = true;
  }

  // The server could not be reached for `slots`: nothing was done for
  // them; `first` when nothing at all has been done.
  int FailAll(const std::vector<int>& slots, bool first) {
    for (int slot : slots) Fail(slot, face_.last_failure());
    return first ? kExitNothingDone : kExitSomeFailed;
  }

  // "AGGIORNA" for `slots` after their running-instance check. A program
  // that fails ends a window's run; here the programs after it get a run
  // of their own, so that one missing archive does not hold back the
  // others.
  int Update(std::vector<int> slots) {
    face_.Tick(slots);
    // An instance that could not be stopped (another account's, say) may
    // hold the files the script replaces: the update is still tried, and
    // the program counts as failed whatever its script does.
    const std::vector<int> not_stopped = session_.ControlloProgMem();
    std::vector<int> started;
    for (bool first = true; !slots.empty(); first = false) {
      face_.Tick(slots);
      const RunOutcome outcome = session_.Aggiorna();
      switch (outcome.end) {
        case RunOutcome::kDone:
          started.insert(started.end(), slots.begin(), slots.end());
          slots.clear();
          break;
        case RunOutcome::kProgramFailed:
          for (int slot : slots) {
            if (slot < outcome.slot) started.push_back(slot);
          }
          Fail(outcome.slot, face_.last_failure());
          slots = After(slots, outcome.slot);
          break;
        case RunOutcome::kDeclined:
        case RunOutcome::kNoArchiver:
        case RunOutcome::kServerFailed:
          if (first) return FailAll(slots, true);
          (void)FailAll(slots, false);
          slots.clear();
          break;
      }
    }
    (void)remote_.WaitForScripts(kCommandLineScriptWait);
    // Every failed script counts, also one noticed before its file was
    // rewritten by a later program of the run.
    const std::vector<int>& failed_scripts = remote_.failed_scripts();
    for (int slot : started) {
      if (Contains(failed_scripts, slot)) {
        Fail(slot, "lo script di aggiornamento non è terminato con il codice 0");
      } else if (Contains(not_stopped, slot)) {
        Fail(slot, "istanze in esecuzione non terminate (vedi \"NON CANCELLATO\")");
      } else {
        outcomes_[slot] = kUpdated;
      }
    }
    return failed_ ? kExitSomeFailed : kExitDone;
  }

  Session& session_;
  LoggedFace& face_;
  RemoteUpdate& remote_;
  std::map<int, std::string> outcomes_;
  bool failed_ = false;
};

// The shop's name in its report: the one given, or the computer's and the
// drive's.
std::string ShopName(const UnattendedRequest& request, char letter) {
  if (!request.shop.empty()) return request.shop;
  std::string computer = ComputerName();
  return (computer.empty() ? "pc" : computer) + "-" +
         std::string(1, static_cast<char>(std::toupper(letter)));
}

// When the program was built with a report folder: keeps the report beside
// the log (the next run reads the last success from it) and stores it on
// the server; a failure costs a line.
void SendReport(Session& session, const LoggedFace& face, RemoteUpdate& remote, FileSystem& files,
                NightReport report) {
  if (!remote.reports()) return;
  const std::string local = OnDrive(session.letter(), kReportCopy);
  std::string earlier;
  (void)files.ReadSmallFile(local, 64 * 1024, &earlier);  // none: a first run
  report.last_success_utc = LastSuccessOf(earlier);
  report.log_lines.assign(face.recent().begin(), face.recent().end());
  const std::string text = remote.WithoutPassword(ReportText(report));
  Status status = files.WriteFile(local, text);
  if (!status.ok()) session.AggiungiStato("Impossibile scrivere il rapporto " + status.message());
  status = remote.StoreReport(ReportFileName(report.shop), text);
  if (!status.ok()) {
    session.AggiungiStato("Impossibile inviare il rapporto al fornitore");
    session.AggiungiStato("Motivo: " + status.message());
  }
}

}  // namespace

int Session::UpdatePrograms(const UnattendedRequest& request) {
  NightReport report;
  report.started = started_;
  Night night(*this, *face_, *remote_);
  report.exit_code = night.Run(request);
  report.ended = std::chrono::system_clock::now();
  report.shop = ShopName(request, letter());
  report.version = version_;
  report.drive = DriveName(letter());
  report.programs = night.Outcomes();
  const int exit_code = report.exit_code;
  SendReport(*this, *face_, *remote_, platform_.files, std::move(report));
  return exit_code;
}

}  // namespace avendro
