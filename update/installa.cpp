#include "update/remote_update.h"
#include "update/update_script.h"

namespace avendro {

void RemoteUpdate::Installa() {
  const char lettera = modu1_.LetteraUnita;
  switch (Apertura()) {
    case Opening::kGoOn:
      break;
    case Opening::kDeclined:
    case Opening::kNoArchiver:
      window_.SetPointer(Pointer::kArrow);
      return;
    case Opening::kServerFailed:
      window_.SetPointer(Pointer::kArrow);
      window_.ShowBusy(false);
      return;
  }

  // Only slots 0 and 4 have an installer archive.
  for (int slot : {0, 4}) {
    if (window_.BoxValue(slot) != 1) continue;
    const Product& row = Row(slot);
    const std::string archive = OnDrive(lettera, row.installLocalPath);
    if (!Scarica(std::string(row.installArchive), archive)) break;
    window_.AggiungiStato("Il programma è stato scaricato ");
    if (!ScriviEAvvia(OnDrive(lettera, ":\\drubel\\aggiorna.bat"),
                      InstallScript(lettera, archive))) {
      break;
    }
  }
  // The connection stays open; the next run logs in afresh.
  window_.SetPointer(Pointer::kArrow);
  window_.ShowBusy(false);
}

}  // namespace avendro
