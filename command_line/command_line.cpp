#include "command_line/command_line.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <memory>
#include <set>

#include "command_line/night_report.h"
#include "platform/console.h"
#include "platform/local_time.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "shell/session.h"
#include "shell/status_log.h"

namespace avendro {
namespace {

// How the log file's header names a run of this face.
constexpr char kCommandLineFace[] = "riga di comando";

// The name a program is given by on the command line: its executable's
// name without ".exe", as the catalogue writes it.
std::string ProgramName(int slot) {
  std::string name(Row(slot).processName);
  if (name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".exe"))
    name.resize(name.size() - 4);
  return name;
}

int SlotOfName(const std::string& name) {
  for (int slot = 0; slot < kProductCount; ++slot) {
    if (EqualsNoCase(ProgramName(slot), name)) return slot;
  }
  return -1;
}

// "D:", "d" or "d:\" name drive D.
bool ParseDrive(const std::string& text, char* letter) {
  if (text.empty() || text.size() > 3 || !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  if (text.size() >= 2 && text[1] != ':') return false;
  if (text.size() == 3 && text[2] != '\\' && text[2] != '/') return false;
  *letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return true;
}

// The window's face without a window: lines go to the console (the session
// has written them to the log file), the boxes of the named programs are
// ticked, and the only question answered Yes is the confirmation, which
// whoever scheduled the run has given. The archiver's installer needs a
// person: its offer is declined.
class CommandLineFace : public WindowPort {
 public:
  StatusLog& log() { return log_; }
  const std::vector<int>& installed() const { return installed_; }
  void Tick(const std::vector<int>& slots) { ticked_ = std::set<int>(slots.begin(), slots.end()); }

  // The last lines, with their times, for the vendor's report.
  const std::deque<std::string>& recent() const { return recent_; }
  // Why the last thing that failed failed: its "Motivo" or its line.
  const std::string& last_failure() const { return last_failure_; }

  void AggiungiStato(const std::string& line) override {
    std::string added = log_.Append(line);
    for (size_t at = 0; at <= added.size();) {
      size_t end = added.find("\r\n", at);
      if (end == std::string::npos) end = added.size();
      if (end > at || at > 0) Shown(added.substr(at, end - at));
      at = end + 2;
    }
  }
  int BoxValue(int slot) override { return ticked_.count(slot) != 0 ? 1 : 0; }
  void MarkInstalled(int slot) override { installed_.push_back(slot); }
  bool AskYesNo(const std::string& prompt, const std::string& /*title*/,
                bool /*no_default*/) override {
    return prompt == kConfermaProcedere;
  }
  void SetPointer(Pointer /*pointer*/) override {}
  void ShowBusy(bool /*visible*/) override {}
  void ShowProgress(const std::string& /*text*/) override {}
  void KeepAlive() override {}

 private:
  void Shown(const std::string& line) {
    WriteConsoleLine(line);
    recent_.push_back(LocalTimeText(std::chrono::system_clock::now()) + " " + line);
    if (recent_.size() > kReportLogLines) recent_.pop_front();
    if (line.starts_with("Motivo: ")) {
      last_failure_ = line.substr(8);
    } else if (line.starts_with("Impossibile ") || line.starts_with("La Directory")) {
      last_failure_ = line;
    }
  }

  StatusLog log_;
  std::set<int> ticked_;
  std::vector<int> installed_;
  std::deque<std::string> recent_;
  std::string last_failure_;
};

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
// for the exit code and the vendor's report.
class Night {
 public:
  Night(Session& session, CommandLineFace& face) : session_(session), face_(face) {}

  int Run(const CommandLineRequest& request) {
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
      if (!session_.remote().FindUpdates(slots, &updates, &unknown)) return FailAll(slots, true);
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
  std::vector<int> InstalledOnes(const CommandLineRequest& request) {
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
    (void)session_.remote().WaitForScripts(kCommandLineScriptWait);
    // Every failed script counts, also one noticed before its file was
    // rewritten by a later program of the run.
    const std::vector<int>& failed_scripts = session_.remote().failed_scripts();
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
  CommandLineFace& face_;
  std::map<int, std::string> outcomes_;
  bool failed_ = false;
};

// The shop's name in its report: the one given, or the computer's and the
// drive's.
std::string ShopName(const CommandLineRequest& request, char letter) {
  if (!request.shop.empty()) return request.shop;
  std::string computer = ComputerName();
  return (computer.empty() ? "pc" : computer) + "-" +
         std::string(1, static_cast<char>(std::toupper(letter)));
}

// When the program was built with a report folder: keeps the report beside
// the log (the next run reads the last success from it) and stores it on
// the server; a failure costs a line.
void SendReport(Session& session, CommandLineFace& face, NightReport report) {
  if (!session.remote().reports()) return;
  const std::string local = OnDrive(session.letter(), kWorkFolder) + "\\avendro-rapporto.txt";
  std::string earlier;
  (void)session.platform().files.ReadSmallFile(local, 64 * 1024, &earlier);  // none: a first run
  report.last_success_utc = LastSuccessOf(earlier);
  report.log_lines.assign(face.recent().begin(), face.recent().end());
  const std::string text = session.remote().WithoutPassword(ReportText(report));
  Status status = session.platform().files.WriteFile(local, text);
  if (!status.ok()) session.AggiungiStato("Impossibile scrivere il rapporto " + status.message());
  status = session.remote().StoreReport(ReportFileName(report.shop), text);
  if (!status.ok()) {
    session.AggiungiStato("Impossibile inviare il rapporto al fornitore");
    session.AggiungiStato("Motivo: " + status.message());
  }
}

CommandLineRequest Wrong(std::string why) {
  CommandLineRequest request;
  request.error = std::move(why);
  return request;
}

}  // namespace

CommandLineRequest ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineRequest request;
  bool update = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--aiuto" || arg == "/?") {
      request.help = true;
    } else if (arg == "--aggiorna") {
      update = true;
    } else if (arg == "--controlla") {
      request.check_only = true;
    } else if (arg == "--forza") {
      request.force = true;
    } else if (arg == "--negozio" || arg.starts_with("--negozio=")) {
      if (arg == "--negozio" && i + 1 == args.size())
        return Wrong("--negozio senza nome (per esempio --negozio \"Market Rossi\")");
      request.shop = arg == "--negozio" ? args[++i] : arg.substr(10);
      if (request.shop.empty()) return Wrong("--negozio senza nome");
    } else if (arg == "--unita" || arg.starts_with("--unita=")) {
      std::string value;
      if (arg == "--unita") {
        if (i + 1 == args.size()) return Wrong("--unita senza unità (per esempio --unita D:)");
        value = args[++i];
      } else {
        value = arg.substr(8);
      }
      if (!ParseDrive(value, &request.letter)) return Wrong("unità non valida: " + value);
    } else if (arg.starts_with("-") || arg.starts_with("/")) {
      return Wrong("opzione sconosciuta: " + arg);
    } else {
      const int slot = SlotOfName(arg);
      if (slot < 0) return Wrong("programma sconosciuto: " + arg);
      if (std::find(request.programs.begin(), request.programs.end(), slot) ==
          request.programs.end())
        request.programs.push_back(slot);
    }
  }
  std::sort(request.programs.begin(), request.programs.end());
  if (update && request.check_only) return Wrong("--aggiorna e --controlla insieme");
  if (request.check_only && request.force) return Wrong("--controlla e --forza insieme");
  if (!update && !request.check_only && !request.help) request.error = "manca --aggiorna";
  return request;
}

std::string CommandLineUsage() {
  std::string names;
  for (int slot = 0; slot < kProductCount; ++slot) {
    names += (slot % 8 == 0 ? "\n    " : " ") + ProgramName(slot);
  }
  return "Uso: Avendro --aggiorna [PROGRAMMA ...] [--forza] [--unita X:] [--negozio NOME]\n"
         "     Avendro --controlla [PROGRAMMA ...] [--unita X:]\n"
         "     Avendro --aiuto\n"
         "\n"
         "Aggiorna senza finestra i programmi indicati sull'unità di lavoro, come fa\n"
         "\"AGGIORNA\" per le caselle spuntate: ferma le loro istanze in esecuzione,\n"
         "scarica gli aggiornamenti e avvia gli script che li scompattano, senza domande.\n"
         "Prima chiede al server quali archivi sono cambiati e lascia stare i programmi\n"
         "il cui archivio è quello già installato sull'unità.\n"
         "PROGRAMMA è il nome dell'eseguibile senza \".exe\", maiuscole o minuscole;\n"
         "senza nomi aggiorna ogni programma installato sull'unità. Ogni riga va anche\n"
         "in X:\\drubel\\avendro.log; gli script avviati sono attesi fino a " +
         std::to_string(kCommandLineScriptWait.count()) +
         " minuti.\n"
         "\n"
         "  --forza        aggiorna anche i programmi senza novità sul server\n"
         "  --controlla    dice solo quali programmi hanno un aggiornamento sul server\n"
         "  --unita X:     l'unità di lavoro (senza: l'unità della cartella corrente)\n"
         "  --negozio NOME il nome del negozio nel rapporto per il fornitore\n"
         "  --aiuto        questo testo\n"
         "\n"
         "Codici di uscita:\n"
         "  0  ogni programma aggiornato o già aggiornato, ogni script terminato con 0\n"
         "     (--controlla: nessun aggiornamento sul server)\n"
         "  1  qualche programma non aggiornato (download, firma, script, non installato),\n"
         "     gli altri sì\n"
         "  2  uso errato (programma sconosciuto, opzione errata): nulla è stato fatto\n"
         "  3  nulla è stato possibile (nessuna unità di lavoro, Avendro già aperto\n"
         "     sull'unità, server irraggiungibile, manca rar.exe)\n"
         "  4  --controlla: qualche programma ha un aggiornamento sul server\n"
         "\n"
         "Programmi:" +
         names;
}

int RunCommandLine(const std::vector<std::string>& args, const std::string& version) {
  const CommandLineRequest request = ParseCommandLine(args);
  if (!request.error.empty()) {
    WriteConsoleLine("Avendro: " + request.error + " (Avendro --aiuto per l'uso)");
    return kExitUsage;
  }
  if (request.help) {
    WriteConsoleLine(CommandLineUsage());
    return kExitDone;
  }
  std::unique_ptr<Session> session;
  Status status = Session::Open(request.letter, version, &session, kCommandLineFace);
  if (!status.ok()) {
    WriteConsoleLine(status.message());
    return kExitNothingDone;
  }
  return RunUpdateRequest(*session, request);
}

int RunUpdateRequest(Session& session, const CommandLineRequest& request) {
  NightReport report;
  report.started = std::chrono::system_clock::now();
  CommandLineFace face;
  session.Start(face, std::string(1, session.letter()) + ":", kCommandLineFace);
  Night night(session, face);
  report.exit_code = night.Run(request);
  report.ended = std::chrono::system_clock::now();
  report.shop = ShopName(request, session.letter());
  report.version = session.version();
  report.drive = DriveName(session.letter());
  report.programs = night.Outcomes();
  const int exit_code = report.exit_code;
  SendReport(session, face, std::move(report));
  return exit_code;
}

}  // namespace avendro
