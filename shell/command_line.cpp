#include "shell/command_line.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>

#include "checks/controllo_prog_mem.h"
#include "platform/console.h"
#include "platform/text.h"
#include "shell/session.h"
#include "shell/status_log.h"

namespace avendro {
namespace {

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

// The window's face without a window: lines go to the console (and through
// the status log to the log file), the boxes of the named programs are
// ticked, and the only question answered Yes is the confirmation, which
// whoever scheduled the run has given. The archiver's installer needs a
// person: its offer is declined.
class CommandLineFace : public WindowPort {
 public:
  StatusLog& log() { return log_; }
  const std::vector<int>& installed() const { return installed_; }
  void Tick(const std::vector<int>& slots) { ticked_ = std::set<int>(slots.begin(), slots.end()); }

  void AggiungiStato(const std::string& line) override {
    std::string added = log_.Append(line);
    for (size_t at = 0; at <= added.size();) {
      size_t end = added.find("\r\n", at);
      if (end == std::string::npos) end = added.size();
      if (end > at || at > 0) WriteConsoleLine(added.substr(at, end - at));
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
  StatusLog log_;
  std::set<int> ticked_;
  std::vector<int> installed_;
};

// The slots of `wanted` after `slot`.
std::vector<int> After(const std::vector<int>& wanted, int slot) {
  std::vector<int> later;
  std::copy_if(wanted.begin(), wanted.end(), std::back_inserter(later),
               [slot](int s) { return s > slot; });
  return later;
}

// The running-instance check and "AGGIORNA" for `slots`. A program that
// fails ends a window's run; here the programs after it get a run of
// their own, so that one missing archive does not hold back the others.
int UpdatePrograms(Session& session, CommandLineFace& face, std::vector<int> slots) {
  bool failed = false;
  if (slots.empty()) {
    slots = face.installed();
  } else {
    const std::vector<int>& installed = face.installed();
    std::erase_if(slots, [&](int slot) {
      if (std::find(installed.begin(), installed.end(), slot) != installed.end()) return false;
      face.AggiungiStato("Il programma " + ProgramName(slot) + " non è installato sull'unità " +
                         std::string(1, static_cast<char>(std::toupper(session.letter()))) + ":");
      failed = true;
      return true;
    });
  }
  if (slots.empty()) {
    face.AggiungiStato("Nessun programma da aggiornare");
    return failed ? kExitSomeFailed : kExitDone;
  }

  face.Tick(slots);
  // A program the run's account may not stop (another account's) keeps
  // its files in use: that program counts as failed.
  if (ControlloProgMem(face, session.platform().processes, session.modu1().nomiProgrammi) > 0) {
    failed = true;
  }
  for (bool first = true; !slots.empty(); first = false) {
    face.Tick(slots);
    const RunOutcome outcome = session.remote().Aggiorna();
    switch (outcome.end) {
      case RunOutcome::kDone:
        slots.clear();
        break;
      case RunOutcome::kProgramFailed:
        failed = true;
        slots = After(slots, outcome.slot);
        break;
      case RunOutcome::kDeclined:
      case RunOutcome::kNoArchiver:
      case RunOutcome::kServerFailed:
        if (first) return kExitNothingDone;
        failed = true;
        slots.clear();
        break;
    }
  }
  if (session.remote().WaitForScripts(kCommandLineScriptWait) > 0) failed = true;
  return failed ? kExitSomeFailed : kExitDone;
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
  if (!update && !request.help) request.error = "manca --aggiorna";
  return request;
}

std::string CommandLineUsage() {
  std::string names;
  for (int slot = 0; slot < kProductCount; ++slot) {
    names += (slot % 8 == 0 ? "\n    " : " ") + ProgramName(slot);
  }
  return "Uso: Avendro --aggiorna [PROGRAMMA ...] [--unita X:]\n"
         "     Avendro --aiuto\n"
         "\n"
         "Aggiorna senza finestra i programmi indicati sull'unità di lavoro, come fa\n"
         "\"AGGIORNA\" per le caselle spuntate: ferma le loro istanze in esecuzione,\n"
         "scarica gli aggiornamenti e avvia gli script che li scompattano, senza domande.\n"
         "PROGRAMMA è il nome dell'eseguibile senza \".exe\", maiuscole o minuscole;\n"
         "senza nomi aggiorna ogni programma installato sull'unità. Ogni riga va anche\n"
         "in X:\\drubel\\avendro.log; gli script avviati sono attesi fino a " +
         std::to_string(kCommandLineScriptWait.count()) +
         " minuti.\n"
         "\n"
         "  --unita X:  l'unità di lavoro (senza: l'unità della cartella corrente)\n"
         "  --aiuto     questo testo\n"
         "\n"
         "Codici di uscita:\n"
         "  0  ogni programma aggiornato e ogni script terminato con il codice 0\n"
         "  1  qualche programma non aggiornato (download, firma, script...), gli altri sì\n"
         "  2  uso errato (programma sconosciuto, opzione errata): nulla è stato fatto\n"
         "  3  nulla è stato possibile (nessuna unità di lavoro, Avendro già aperto\n"
         "     sull'unità, server irraggiungibile, manca rar.exe)\n"
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
  Status status = Session::Open(request.letter, version, &session);
  if (!status.ok()) {
    WriteConsoleLine(status.message());
    return kExitNothingDone;
  }
  CommandLineFace face;
  face.log().CopyTo(&session->log());
  session->Start(face, std::string(1, session->letter()) + ":", "riga di comando");
  return UpdatePrograms(*session, face, request.programs);
}

}  // namespace avendro
