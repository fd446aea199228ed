#pragma once

#include "platform/file_details.h"
#include "platform/file_system.h"

namespace avendro {

// The columns a file manager shows, from stat(), with the headers of an
// Italian desktop: "Nome", "Dimensione", "Tipo elemento", "Ultima modifica"
// (dd/MM/yyyy HH:mm, local time), "Data creazione" (empty where the file
// system keeps no birth time), "Attributi", "Proprietario". The folder is a
// Windows path; items are taken in name order.
class PosixFileDetails : public FileDetailsSource {
 public:
  explicit PosixFileDetails(FileSystem& files) : files_(files) {}
  Status Query(const std::string& folder, const std::string& name,
               std::vector<DetailColumn>* columns, bool* found) override;

 private:
  FileSystem& files_;
};

}  // namespace avendro
