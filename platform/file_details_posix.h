#pragma once

#include "platform/file_details.h"
#include "platform/file_system.h"

namespace avendro {

// The columns a file manager shows, from stat(), with Italian headers.
class PosixFileDetails : public FileDetailsSource {
 public:
  explicit PosixFileDetails(FileSystem& files) : files_(files) {}
  Status Query(const std::string& folder, const std::string& name,
               std::vector<DetailColumn>* columns, bool* found) override;

 private:
  FileSystem& files_;
};

}  // namespace avendro
