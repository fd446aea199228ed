#include "platform/file_system.h"

#include <cctype>

namespace avendro {

Status WholeFileSystemDrive(const std::string& folder, char letter) {
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  return Status::Error(std::string("Avendro va avviato dalla cartella di lavoro di un'unità del ") +
                       "negozio (per esempio D:\\drubel): la cartella corrente " + folder +
                       " è sull'unità " + drive + ":, che contiene l'intero file system.");
}

Status FileSystem::WriteFile(const std::string& path, const std::string& bytes) {
  std::unique_ptr<ReplacementFile> file;
  Status status = BeginReplacement(path, &file);
  if (status.ok()) status = file->Append(bytes.data(), bytes.size());
  if (status.ok()) status = file->Commit();
  return status;
}

Status LinkRefused(const std::string& path) {
  return Status::Error(path + ": è un collegamento a un altro percorso; Avendro non scrive " +
                       "attraverso i collegamenti");
}

Status DriveTaken(char letter) {
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  return Status::Error(std::string("Avendro è già aperto sull'unità ") + drive +
                       ": (un'altra finestra lavora sugli stessi programmi).");
}

}  // namespace avendro
