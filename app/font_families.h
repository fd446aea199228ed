#pragma once

#include <functional>
#include <string>
#include <vector>

namespace avendro {

// The families that can draw what the form writes in `family`, best first;
// just `family` for one without stand-ins.
std::vector<std::string> FontCandidates(const std::string& family);

// The first of FontCandidates(family) that `installed` finds on the machine,
// else `family` itself.
std::string ChooseFontFamily(const std::string& family,
                             const std::function<bool(const std::string&)>& installed);

}  // namespace avendro
