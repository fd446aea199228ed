// Prints the product catalogue for the scripts that lay out demo drives and
// servers and prove the package, so that none of them lists the products
// again: one line per slot 0..19, the slot and then each text field of the
// row, separated by tabs, trailing blanks kept.
#include <cstdio>
#include <string_view>

#include "catalogue/catalogue.h"

int main() {
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
