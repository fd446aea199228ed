// Prints the product catalogue for the scripts that lay out demo drives and
// servers and prove the package, so that none of them lists the products
// again: one line per slot 0..19, the slot and then each text field of the
// row, separated by tabs, trailing blanks kept. With "form", the places of
// the window's controls that the package's proof clicks and reads: one line
// "<name> <left> <top> <width> <height>" in twips, the boxes as "aa1_<slot>".
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/form_layout.h"
#include "catalogue/catalogue.h"

namespace {

void PrintPlace(std::string_view name, const avendro::FormRect& r) {
  std::printf("%.*s %d %d %d %d\n", static_cast<int>(name.size()), name.data(), r.left, r.top,
              r.width, r.height);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc > 1 && std::strcmp(argv[1], "form") == 0) {
    for (const avendro::NamedPlace& p : avendro::kProvedPlaces) PrintPlace(p.name, p.place);
    for (int slot = 0; slot < avendro::kSlotCount; ++slot) {
      PrintPlace("aa1_" + std::to_string(slot), avendro::kBoxPlaces[static_cast<size_t>(slot)]);
    }
    return 0;
  }
  for (const avendro::Product& row : avendro::Catalogue()) {
    std::printf("%d", row.slot);
    for (std::string_view field :
         {row.caption, row.processName, row.diskPath, row.diskMessage, row.updateArchive,
          row.updateLocalPath, row.updateScriptPath, row.installArchive, row.installLocalPath}) {
      std::printf("\t%.*s", static_cast<int>(field.size()), field.data());
    }
    std::printf("\n");
  }
  return 0;
}
