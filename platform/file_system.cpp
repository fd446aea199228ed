#include "platform/file_system.h"

#include <cctype>
#include <cstdint>

namespace avendro {

Status WholeFileSystemDrive(const std::string& folder, char letter, std::string_view work_folder) {
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  return Status::Error(std::string("Avendro va avviato dalla cartella di lavoro di un'unità del ") +
                       "negozio (per esempio D" + std::string(work_folder) +
                       "): la cartella corrente " + folder + " è sull'unità " + drive +
                       ":, che contiene l'intero file system.");
}

Status NotAShopDrive(char letter) {
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  return Status::Error(std::string("L'unità ") + drive +
                       ": contiene l'intero file system: non è un'unità del negozio.");
}

Status FileSystem::WriteFile(const std::string& path, const std::string& bytes, Flush flush) {
  std::unique_ptr<ReplacementFile> file;
  Status status = BeginReplacement(path, &file);
  if (status.ok()) status = file->Append(bytes.data(), bytes.size());
  if (status.ok()) status = file->Commit(flush);
  return status;
}

Status LinkRefused(const std::string& path) {
  return Status::Error(path + ": è un collegamento a un altro percorso; Avendro non scrive " +
                       "attraverso i collegamenti");
}

uint32_t ReplacementOwner(const std::string& name, int base) {
  const std::string mark = ".download-";
  const size_t at = name.rfind(mark);
  if (at == std::string::npos || at == 0) return 0;
  const std::string rest = name.substr(at + mark.size());
  const size_t dash = rest.find('-');
  const char* digits = base == 16 ? "0123456789abcdefABCDEF-" : "0123456789-";
  if (dash == 0 || dash == std::string::npos || dash > 10 || dash + 1 == rest.size() ||
      rest.find_first_not_of(digits) != std::string::npos ||
      rest.find('-', dash + 1) != std::string::npos) {
    return 0;
  }
  const unsigned long long owner = std::stoull(rest.substr(0, dash), nullptr, base);
  return owner > UINT32_MAX ? 0 : static_cast<uint32_t>(owner);
}

Status DriveTaken(char letter) {
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  return Status::Error(std::string("Avendro è già aperto sull'unità ") + drive +
                       ": (un'altra finestra lavora sugli stessi programmi).");
}

}  // namespace avendro
