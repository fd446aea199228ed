#pragma once

#include <map>
#include <string>

#include "platform/status.h"

namespace avendro {

// Drive letters as Wine sees them: drive x is the folder that
// <prefix>/dosdevices/x: points to.
class DriveMap {
 public:
  // $WINEPREFIX, or ~/.wine when it is unset.
  static std::string DefaultPrefix();

  // Reads the drives of `prefix`. Fails, naming the missing folder, when the
  // prefix or its dosdevices folder does not exist.
  static Status Load(const std::string& prefix, DriveMap* out);

  // Adds or replaces one drive (tests and the Load above).
  void Set(char letter, const std::string& folder);

  // The folder of a drive, "" when it is not mapped.
  std::string Root(char letter) const;

  // The drive whose folder holds `folder` (longest match wins), or 0.
  char DriveOf(const std::string& folder) const;

  const std::string& prefix() const { return prefix_; }

 private:
  std::string prefix_;
  std::map<char, std::string> roots_;  // lower-case letter -> canonical folder
};

// Applies the Windows path rules below `root`: "a\B\c " names the existing
// entries a, b (any case) and then "c" without its trailing blank. Components
// that do not exist keep the case given.
std::string ResolveBelow(const std::string& root, const std::string& tail);

}  // namespace avendro
