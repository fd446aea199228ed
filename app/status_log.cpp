#include "app/status_log.h"

namespace avendro {

std::string StatusLog::Append(const std::string& line) {
  std::string added = text_.empty() ? "- " + line : "\r\n- " + line;
  text_ += added;
  return added;
}

}  // namespace avendro
