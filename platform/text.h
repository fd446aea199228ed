#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace avendro {

// Letter case as file and process names ignore it (ASCII letters).
inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// `text` without the blanks at its end.
inline std::string TrimmedRight(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

inline bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && Lower(a) == Lower(b);
}

}  // namespace avendro
