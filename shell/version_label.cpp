#include "shell/version_label.h"

#include "catalogue/catalogue.h"
#include "shell/dettagli_file.h"

namespace avendro {

std::string VersionLabel(FileDetailsSource& details) {
  // Always drive C, whatever the work drive.
  Dettagli setup;
  if (!DettagliFile(details, OnDrive('C', kWorkFolder) + "\\", std::string(kSetupProgram), &setup)
           .ok())
    return "";
  const std::string* date = setup.At(4);
  if (date == nullptr) return "";
  return "R. 1.0.1 del " + *date;
}

}  // namespace avendro
