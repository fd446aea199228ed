#include "app/library_paths.h"

namespace avendro {

// Linux loads Qt's plugins from the system's folders.
void PinQtLibraryPaths() {}

}  // namespace avendro
