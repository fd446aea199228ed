#pragma once

namespace avendro {

// Keeps the libraries this program loads to its own folder and the
// system's: the current folder (the work folder, which the shop's users
// write) and the PATH leave the search. First thing in main, before any
// library is loaded on demand. Nothing to do on Linux.
#ifdef _WIN32
void PinLibrarySearch();
#else
inline void PinLibrarySearch() {}
#endif

// Qt's plugins from the program's folder only, whatever QT_PLUGIN_PATH says;
// before the QApplication, which loads the platform plugin.
void PinQtLibraryPaths();

}  // namespace avendro
