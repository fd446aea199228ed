#include "checks/controllo_prog_disk.h"

#include "catalogue/catalogue.h"

namespace avendro {

void ControlloProgDisk(WindowPort& window, FileSystem& files, char lettera) {
  const std::string work_folder = OnDrive(lettera, kWorkFolder);
  std::string name;
  Status status = files.FindEntry(work_folder, kMaskDirectory, &name);
  if (!status.ok()) {
    window.AggiungiStato("Impossibile controllare " + status.message());
    return;
  }
  if (name.empty()) {
    status = files.CreateFolder(work_folder);
    if (!status.ok()) {
      window.AggiungiStato("Impossibile creare la cartella " + status.message());
      return;
    }
  }

  for (int slot = 0; slot < kProductCount; ++slot) {
    const Product& row = Row(slot);
    status = files.FindEntry(OnDrive(lettera, row.diskPath), kMaskNormal, &name);
    if (!status.ok()) {
      window.AggiungiStato("Impossibile controllare " + status.message());
      return;
    }
    if (!name.empty()) {
      window.AggiungiStato(std::string(row.diskMessage));
      window.MarkInstalled(slot);
    }
  }
}

}  // namespace avendro
