#include "update/remote_update.h"
#include "update/update_script.h"

namespace avendro {

void RemoteUpdate::Installa() {
  const char lettera = modu1_.LetteraUnita;
  switch (OpenRun()) {
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

  for (int slot = 0; slot < kProductCount; ++slot) {
    const Product& row = Row(slot);
    // Only the boxes of programs with an installer archive are read.
    if (row.installArchive.empty() || window_.BoxValue(slot) != 1) continue;
    const std::string archive = OnDrive(lettera, row.installLocalPath);
    if (!FetchArchive(std::string(row.installArchive), archive)) break;
    window_.AggiungiStato("Il programma è stato scaricato ");
    if (!WriteAndStartScript(OnDrive(lettera, kWorkScript), InstallScript(lettera, archive),
                             slot)) {
      break;
    }
  }
  // The connection stays open; the next run logs in afresh.
  window_.SetPointer(Pointer::kArrow);
  window_.ShowBusy(false);
}

}  // namespace avendro
