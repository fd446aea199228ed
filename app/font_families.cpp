#include "app/font_families.h"

namespace avendro {

std::vector<std::string> FontCandidates(const std::string& family) {
  // "MS Sans Serif" is a bitmap font, drawn in a few sizes only: at 125 % and
  // 150 % its sizes jump and its bold is smeared. Windows' scalable
  // "Microsoft Sans Serif" has its metrics, so it comes first wherever it is.
  if (family == "MS Sans Serif") return {"Microsoft Sans Serif", family, "DejaVu Sans"};
  if (family == "Arial Rounded MT Bold") return {family, "Arial", "DejaVu Sans"};
  return {family};
}

std::string ChooseFontFamily(const std::string& family,
                             const std::function<bool(const std::string&)>& installed) {
  for (const std::string& candidate : FontCandidates(family)) {
    if (installed(candidate)) return candidate;
  }
  return family;
}

}  // namespace avendro
