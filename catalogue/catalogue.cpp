#include "catalogue/catalogue.h"

#include <stdexcept>

namespace avendro {
namespace {

// clang-format off
constexpr std::array<Product, kSlotCount> kCatalogue = {{
  {0, "Varnok-Gestione Supermercati", "varnok.exe", ":\\programmi\\varnok\\varnok.exe",
   "Controllo Varnok sul Disco...OK",
   "varnok.rar", ":\\drubel\\varnok.rar", ":\\programmi\\varnok\\aggiorna.bat",
   "varnok_inst.rar", ":\\drubel\\varnok_inst.rar",
   ":\\programmi\\varnok", ":\\drubel\\varnok.exe c:\\programmi\\varnok", false},
  {1, "Drubel2-Gestionale Magazzino", "Drubel2.exe", ":\\drubel\\Drubel2.exe",
   "Controllo Drubel2 sul Disco...OK",
   "Drubel2.rar", ":\\drubel\\Drubel2.rar", ":\\drubel\\aggiorna.bat", "", "",
   kWorkFolder, "", false},
  {2, "Contabilità Generale", "fr.exe", ":\\drubel\\fr.exe",
   "Controllo Fe.RO sul Disco...OK",
   "fr.rar", ":\\drubel\\fr.rar", ":\\drubel\\aggiorna.bat", "", "",
   kWorkFolder, "", false},
  {3, "Drubel-Gestionale Magazzino", "drubel.exe", ":\\drubel\\drubel.exe",
   "Controllo Drubel sul Disco...OK",
   "drubel.rar", ":\\drubel\\drubel.rar", ":\\drubel\\aggiorna.bat", "", "",
   kWorkFolder, "", false},
  {4, "Tamrel-Confronto Prezzi", "tamrel.exe", ":\\programmi\\varnok\\tamrel.exe",
   "Controllo Tamrel sul Disco...OK",
   "tamrel.rar", ":\\drubel\\tamrel.rar ", ":\\programmi\\varnok\\aggiorna.bat",
   "tamrel_inst.rar", ":\\drubel\\tamrel_inst.rar",
   kWorkFolder, ":\\drubel\\tamrel.exe c:\\programmi\\varnok", true},
  {5, "Dunmar-Gestione Supermercati", "dunmar.exe", ":\\dunmar\\dunmar.exe",
   "Controllo Dunmar-supermercati sul Disco...OK",
   "dunmar.rar", ":\\dunmar\\dunmar.rar ", ":\\dunmar\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {6, "Pellwick-Gestione Pizzeria ", "pellwick.exe", ":\\dunmar\\pellwick.exe",
   "Controllo Pellwick sul Disco...OK",
   "Pellwick.rar", ":\\dunmar\\Pellwick.rar ", ":\\dunmar\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {7, "Rostiva-Gestione Bar/Ristorazione", "rostiva.exe", ":\\dunmar\\rostiva.exe",
   "Controllo Rostiva sul Disco...OK",
   "Rostiva.rar", ":\\dunmar\\Rostiva.rar ", ":\\dunmar\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {8, "Gestione Ordini ZANDROTTI", "zandrotti.exe", ":\\zandrotti\\zandrotti.exe",
   "Controllo Ordini-Zandrotti sul Disco...OK",
   "zandrotti.rar", ":\\zandrotti\\zandrotti.rar ", ":\\zandrotti\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {9, "Gestione Ordini VEMO", "vemo.exe", ":\\vemo\\vemo.exe",
   "Controllo Ordini-Vemo sul Disco...OK",
   "vemo.rar", ":\\vemo\\vemo.rar ", ":\\vemo\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {10, "Gestione Ordini TERVESSA", "tervessa.exe", ":\\tervessa\\tervessa.exe",
   "Controllo Ordini-Tervessa sul Disco...OK",
   "tervessa.rar", ":\\tervessa\\tervessa.rar ", ":\\tervessa\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {11, "Gestione Ordini QUOR", "olbi.exe", ":\\olbi\\olbi.exe",
   "Controllo Ordini-Quor Levante sul Disco...OK",
   "olbi.rar", ":\\olbi\\olbi.rar ", ":\\olbi\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {12, "Gestione Ordini ZAL", "Zal.exe", ":\\Zal\\Zal.exe",
   "Controllo Ordini-ZAL sul Disco...OK",
   "zal.rar", ":\\zal\\zal.rar ", ":\\zal\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {13, "Gestione Ordini MORVA", "morva.exe", ":\\morva\\morva.exe",
   "Controllo Ordini-MORVA sul Disco...OK",
   "morva.rar", ":\\MORVA\\morva.rar ", ":\\morva\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {14, "Gestione Ordini Fenu", "fenu.exe", ":\\fenu\\fenu.exe",
   "Controllo Ordini- FENU sul Disco...OK",
   "fenu.rar", ":\\fenu\\fenu.rar ", ":\\fenu\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {15, "Gestione Ordini Di Verlo", "diverlo.exe", ":\\diverlo\\diverlo.exe",
   "Controllo Ordini- Gruppo Di Verlo sul Disco...OK",
   "diverlo.rar", ":\\diverlo\\diverlo.rar ", ":\\diverlo\\aggiorna.bat", "", "",
   kWorkFolder, "", true},
  {16, "", "", "", "", "", "", "", "", ""},
  {17, "", "", "", "", "", "", "", "", ""},
  {18, "", "", "", "", "", "", "", "", ""},
  {19, "", "vendix.exe", "", "", "", "", "", "", ""},
}};
// clang-format on

}  // namespace

const std::array<Product, kSlotCount>& Catalogue() { return kCatalogue; }

const Product& Row(int slot) {
  if (slot < 0 || slot >= kSlotCount) throw std::out_of_range("slot");
  return kCatalogue[static_cast<size_t>(slot)];
}

NomiProgrammi FillNomiProgrammi() {
  NomiProgrammi names;  // entry 20 is never assigned and stays empty
  for (int i = 0; i < kSlotCount; ++i) names[static_cast<size_t>(i)] = Row(i).processName;
  return names;
}

std::string OnDrive(char lettera, std::string_view tail) {
  std::string path(1, lettera);
  path += tail;
  return path;
}

}  // namespace avendro
