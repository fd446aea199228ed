#pragma once

#include <string>

namespace avendro {

// The text of the status log: lines prefixed "- ", CR LF between lines and
// none after the last. Appending costs the length of the new line only.
class StatusLog {
 public:
  // Appends `line` and returns what was added to the text.
  std::string Append(const std::string& line);

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace avendro
