#include "platform/file_details_posix.h"

namespace avendro {

Status PosixFileDetails::Query(const std::string& folder, const std::string&,
                               std::vector<DetailColumn>* columns, bool* found) {
  columns->clear();
  *found = false;
  return Status::Error(folder + ": non implementato");
}

}  // namespace avendro
