#pragma once

#include <string>

namespace avendro {

// `text` as one line of the log can show it: text from outside (names of
// processes and files, server replies, system messages) must not break a
// line or forge one. Control characters become visible escapes ("\r",
// "\n", "\t", "\x1B", "\u0085"), bytes that are not UTF-8 become U+FFFD.
std::string Printable(const std::string& text);

// The text of the status log: lines prefixed "- ", CR LF between lines and
// none after the last. Appending costs the length of the new line only.
class StatusLog {
 public:
  // Appends `line`, made printable, and returns what was added to the text.
  std::string Append(const std::string& line);

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace avendro
