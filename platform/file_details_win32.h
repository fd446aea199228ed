#pragma once

#include "platform/file_details.h"

namespace avendro {

// The details of the shell's "Shell.Application" object, called by member
// name: Namespace(folder), then GetDetailsOf(Items, column) for the headers
// of columns 0..40, then the first item whose Name equals the name (case
// aside) gives its values of the columns 0..35 that have a header. Values of
// columns 36..40 are left empty: nothing reports them. The folder goes to
// the shell as it is given. Wine's shell object (8.0) does not implement
// GetDetailsOf, so there every query fails naming it.
class Win32FileDetails : public FileDetailsSource {
 public:
  Status Query(const std::string& folder, const std::string& name,
               std::vector<DetailColumn>* columns, bool* found) override;
};

}  // namespace avendro
