#pragma once

#include <string>

namespace avendro {

// The update script (aggiorna.bat) of a downloaded program of slot 0..15:
// a cd line, the RAR extract line for `archive` and, where the catalogue
// names one, a Copy line; every line ends with CR LF. `archive` is the local archive
// path exactly as the download used it.
std::string UpdateScript(int slot, char lettera, const std::string& archive);

// The install script: unpacks `archive` in the work folder and starts
// setup.exe there.
std::string InstallScript(char lettera, const std::string& archive);

}  // namespace avendro
