#pragma once

#include <cctype>
#include <string>

namespace avendro {

// Letter case as file and process names ignore it (ASCII letters).
inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

inline bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && Lower(a) == Lower(b);
}

}  // namespace avendro
