#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace avendro {

// One column of a file's details: the header a file manager shows and the
// value for the file.
using DetailColumn = std::pair<std::string, std::string>;

// The details a file manager shows for the files of a folder.
class FileDetailsSource {
 public:
  virtual ~FileDetailsSource() = default;

  // The headers of the folder's columns, in column order (an empty header
  // marks a column without one), and, when the folder holds an item whose
  // name equals `name` without regard to case, that item's values in the same
  // order (`*found` set). Fails when the folder cannot be opened or the
  // item's details cannot be read.
  virtual Status Query(const std::string& folder, const std::string& name,
                       std::vector<DetailColumn>* columns, bool* found) = 0;
};

}  // namespace avendro
