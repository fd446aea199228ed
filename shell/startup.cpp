#include "shell/startup.h"

#include "checks/controllo_prog_disk.h"
#include "shell/version_label.h"

namespace avendro {

std::string RunStartup(WindowPort& window, Platform& platform, Modu1* modu1) {
  modu1->nomiProgrammi = FillNomiProgrammi();

  window.AggiungiStato("===== CONTROLLO PROGRAMMI SU DISCO ======");
  window.AggiungiStato("");
  ControlloProgDisk(window, platform.files, modu1->LetteraUnita);
  window.AggiungiStato("");
  window.AggiungiStato("== CONTROLLO PROG IN MEMORIA  ======");
  window.AggiungiStato("");

  return VersionLabel(platform.details);
}

}  // namespace avendro
