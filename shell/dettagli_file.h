#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/file_details.h"
#include "platform/status.h"

namespace avendro {

// The details of one file: (header, value) pairs in column order, addressed
// by position from 1 or by header. Headers are unique without regard to
// case; values may be empty.
class Dettagli {
 public:
  // Appends one pair. Fails, naming the header, when an equal header (case
  // aside) is already there.
  Status Add(const std::string& header, const std::string& value);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // The value at `position` (1 to size()), nullptr outside that range.
  const std::string* At(size_t position) const;

  // The value under `header`, case aside; nullptr when there is none.
  const std::string* Find(const std::string& header) const;

  const std::vector<DetailColumn>& entries() const { return entries_; }

 private:
  std::vector<DetailColumn> entries_;
};

// Headers are read for columns 0..40; only columns 0..35 are reported.
inline constexpr size_t kDetailHeaderColumns = 41;
inline constexpr size_t kDetailReportedColumns = 36;

// The details of the first item of `folder` named `name` (case aside): one
// pair for each of the columns 0..35 that has a header, so an empty header
// shifts the positions after it. Empty when the folder holds no such item.
// Fails when the folder cannot be opened or two reported columns have the
// same header; nothing is returned then.
Status DettagliFile(FileDetailsSource& source, const std::string& folder, const std::string& name,
                    Dettagli* out);

}  // namespace avendro
