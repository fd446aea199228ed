#include "app/application.h"
#include "app/window_loader.h"

namespace avendro {

int StartWindow(int argc, char* argv[]) { return RunWindow(argc, argv); }

}  // namespace avendro
