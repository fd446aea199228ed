#include "app/library_paths.h"

namespace avendro {

// Linux loads its libraries and Qt's plugins from the system's folders.
void PinLibrarySearch() {}
void PinQtLibraryPaths() {}

}  // namespace avendro
