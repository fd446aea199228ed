#include "shell/dettagli_file.h"
#include "platform/text.h"

#include <cctype>

namespace avendro {
Status Dettagli::Add(const std::string& header, const std::string& value) {
  if (Find(header) != nullptr) {
    return Status::Error("colonna \"" + header + "\" ripetuta");
  }
  entries_.emplace_back(header, value);
  return Status::Ok();
}

const std::string* Dettagli::At(size_t position) const {
  if (position < 1 || position > entries_.size()) return nullptr;
  return &entries_[position - 1].second;
}

const std::string* Dettagli::Find(const std::string& header) const {
  for (const auto& [key, value] : entries_) {
    if (EqualsNoCase(key, header)) return &value;
  }
  return nullptr;
}

Status DettagliFile(FileDetailsSource& source, const std::string& folder, const std::string& name,
                    Dettagli* out) {
  *out = Dettagli();
  std::vector<DetailColumn> columns;
  bool found = false;
  Status status = source.Query(folder, name, &columns, &found);
  if (!status.ok()) return status;
  if (columns.size() > kDetailHeaderColumns) columns.resize(kDetailHeaderColumns);
  if (!found) return Status::Ok();

  Dettagli details;
  for (size_t column = 0; column < columns.size() && column < kDetailReportedColumns; ++column) {
    const auto& [header, value] = columns[column];
    if (header.empty()) continue;
    status = details.Add(header, value);
    if (!status.ok()) {
      bool separated = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
      return Status::Error(folder + (separated ? "" : "\\") + name + ": " + status.message());
    }
  }
  *out = std::move(details);
  return Status::Ok();
}

}  // namespace avendro
