#include "command_line/command_line.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "platform/console.h"
#include "platform/text.h"
#include "shell/session.h"
#include "shell/status_log.h"

namespace avendro {
namespace {

// How the log file's header names a run of this face.
constexpr char kCommandLineFace[] = "riga di comando";

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

// The face without a window: lines go to the console (the session has
// written them to the log file), and the only question answered Yes is the
// confirmation of the run, which whoever scheduled it has given. The
// archiver's installer needs a person: its offer is declined. The session
// ticks the boxes itself.
class ConsoleFace : public WindowPort {
 public:
  void AggiungiStato(const std::string& line) override { WriteConsoleLine("- " + Printable(line)); }
  int BoxValue(int /*slot*/) override { return 0; }
  void MarkInstalled(int /*slot*/) override {}
  bool AskYesNo(Question question, const std::string& /*prompt*/, const std::string& /*title*/,
                bool /*no_default*/) override {
    return question == Question::kConfirmRun;
  }
  void SetPointer(Pointer /*pointer*/) override {}
  void ShowBusy(bool /*visible*/) override {}
  void ShowProgress(const std::string& /*text*/) override {}
  void KeepAlive() override {}
};

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
  ConsoleFace face;
  session.Start(face, kCommandLineFace);
  UnattendedRequest night;
  night.force = request.force;
  night.check_only = request.check_only;
  night.shop = request.shop;
  night.programs = request.programs;
  return session.UpdatePrograms(night);
}

}  // namespace avendro
