#include "update/remote_update.h"

namespace avendro {

void RemoteUpdate::ScaricoInstallaRar() {
  // Leaves the hourglass and the connection as they are: the caller goes
  // on with a login of its own.
  if (!ConnectToServer()) return;
  Status result = ftp_.ChangeFolder(settings_.site + "/" + std::string(kServerUtilityFolder));
  if (!result.ok()) {
    window_.AggiungiStato("La Directory 'download/utility' non esiste sul server ");
    LogReason(result);
    return;
  }
  const std::string installer = OnDrive(modu1_.LetteraUnita, kRarInstaller);
  if (!FetchArchive(std::string(kServerRarInstaller), installer)) return;
  window_.AggiungiStato("Il programma è stato scaricato ");

  std::string found;
  Status status = platform_.files.FindEntry(installer, kMaskNormal, &found);
  if (found.empty()) {
    window_.AggiungiStato("Il programma non è stato installato");
    window_.AggiungiStato("Motivo: " + (status.ok() ? installer + " non si trova dopo il download"
                                                    : status.message()));
    return;
  }
  uint64_t task = 0;
  status = platform_.launcher.Start(installer, WindowStyle::kMinimizedFocus, &task);
  if (!status.ok()) {
    window_.AggiungiStato("Impossibile avviare il programma di installazione " + status.message());
    return;
  }
  window_.AggiungiStato("Il programma è stato installato con successo ");
}

}  // namespace avendro
