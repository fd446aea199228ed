#include "update/update_script.h"

#include "catalogue/catalogue.h"

namespace avendro {

namespace {

constexpr char kCrLf[] = "\r\n";

std::string RarLine(char lettera, const std::string& archive) {
  return OnDrive(lettera, ":\\drubel\\rar e -o+ ") + archive + kCrLf;
}

}  // namespace

std::string UpdateScript(int slot, char lettera, const std::string& archive) {
  std::string script = "cd ";
  script += OnDrive(lettera, slot == 0 ? ":\\programmi\\varnok" : ":\\drubel");
  script += kCrLf;
  script += RarLine(lettera, archive);
  // The executable of these two also goes to the program folder on drive C.
  if (slot == 0) {
    script += "Copy " + OnDrive(lettera, ":\\drubel\\varnok.exe c:\\programmi\\varnok") + kCrLf;
  } else if (slot == 4) {
    script += "Copy " + OnDrive(lettera, ":\\drubel\\tamrel.exe c:\\programmi\\varnok") + kCrLf;
  }
  return script;
}

std::string InstallScript(char lettera, const std::string& archive) {
  return "cd " + OnDrive(lettera, ":\\drubel") + kCrLf + RarLine(lettera, archive) + "setup.exe" +
         kCrLf;
}

}  // namespace avendro
