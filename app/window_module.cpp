#include "app/application.h"
#include "app/window_loader.h"

// The entry of libavendro-window.so, looked up by name by the program.
extern "C" __attribute__((visibility("default"))) int avendro_run_window(int argc, char* argv[]) {
  return avendro::RunWindow(argc, argv);
}
