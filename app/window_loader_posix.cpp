#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/window_loader.h"

namespace avendro {
namespace {

// The folder of the running program: the library is looked for there only,
// never on the library path, so that what runs as the window is what was
// built beside the program.
std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof path)) return std::string();
  std::string folder(path, static_cast<size_t>(n));
  return folder.substr(0, folder.rfind('/'));
}

}  // namespace

int StartWindow(int argc, char* argv[]) {
  const std::string library = ProgramFolder() + "/libavendro-window.so";
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  using Entry = int (*)(int, char**);
  Entry entry = handle == nullptr ? nullptr : reinterpret_cast<Entry>(dlsym(handle, kWindowEntry));
  if (entry == nullptr) {
    std::fprintf(stderr, "Avendro: la finestra non si apre: %s\n", dlerror());
    return 1;
  }
  // Never unloaded: Qt's objects may outlive the call until exit.
  return entry(argc, argv);
}

}  // namespace avendro
