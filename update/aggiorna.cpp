#include "update/remote_update.h"
#include "update/update_script.h"

namespace avendro {

RunOutcome RemoteUpdate::Aggiorna() {
  const char lettera = modu1_.LetteraUnita;
  switch (OpenRun()) {
    case Opening::kGoOn:
      break;
    case Opening::kNoArchiver:
      window_.SetPointer(Pointer::kArrow);  // no closing lines on this way out
      return {RunOutcome::kNoArchiver};
    case Opening::kDeclined:
      EndUpdateRun();
      return {RunOutcome::kDeclined};
    case Opening::kServerFailed:
      EndUpdateRun();
      return {RunOutcome::kServerFailed};
  }

  for (int slot = 0; slot < kProductCount; ++slot) {
    if (window_.BoxValue(slot) != 1) continue;
    const Product& row = Row(slot);
    // Download target and RAR argument alike, trailing blank included.
    const std::string archive = OnDrive(lettera, row.updateLocalPath);
    ArchiveIdentity identity;
    if (!FetchArchive(std::string(row.updateArchive), archive, &identity)) {
      EndUpdateRun();
      return {RunOutcome::kProgramFailed, slot};
    }
    if (row.downloadLineNamesArchive) {
      window_.AggiungiStato("Il programma  " + archive + "  è stato scaricato ");
    } else {
      window_.AggiungiStato("Il programma è stato scaricato ");
    }
    if (!WriteAndStartScript(OnDrive(lettera, row.updateScriptPath),
                             UpdateScript(slot, lettera, archive), slot,
                             {std::string(row.updateArchive), identity})) {
      EndUpdateRun();
      return {RunOutcome::kProgramFailed, slot};
    }
  }

  window_.SetPointer(Pointer::kArrow);
  // Every step has succeeded; a failed logout changes nothing of that.
  (void)ftp_.Disconnect();
  EndUpdateRun();
  return {RunOutcome::kDone};
}

void RemoteUpdate::EndUpdateRun() {
  RecordInstalled();
  window_.SetPointer(Pointer::kArrow);
  window_.ShowBusy(false);
  window_.AggiungiStato("");
  window_.AggiungiStato("      ELABORAZIONE TERMINATA");
  window_.AggiungiStato("");
  window_.AggiungiStato("****  GRAZIE PER LA GENTILE ****");
  window_.AggiungiStato("          COLLABORAZIONE ");
}

}  // namespace avendro
