#include "update/update_script.h"

#include "catalogue/catalogue.h"

namespace avendro {

namespace {

constexpr char kCrLf[] = "\r\n";

std::string RarLine(char lettera, const std::string& archive) {
  return OnDrive(lettera, kRarExtract) + archive + kCrLf;
}

}  // namespace

std::string UpdateScript(int slot, char lettera, const std::string& archive) {
  const Product& row = Row(slot);
  std::string script = "cd " + OnDrive(lettera, row.updateScriptFolder) + kCrLf;
  script += RarLine(lettera, archive);
  if (!row.updateCopy.empty()) script += "Copy " + OnDrive(lettera, row.updateCopy) + kCrLf;
  return script;
}

std::string InstallScript(char lettera, const std::string& archive) {
  return "cd " + OnDrive(lettera, kWorkFolder) + kCrLf + RarLine(lettera, archive) +
         std::string(kSetupProgram) + kCrLf;
}

}  // namespace avendro
