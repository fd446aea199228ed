#include <clocale>
#include <string>
#include <vector>

#include "app/avendro_version.h"
#include "app/library_paths.h"
#include "app/window_loader.h"
#include "command_line/command_line.h"

int main(int argc, char* argv[]) {
  avendro::PinLibrarySearch();
  // With arguments the program runs without a window (command_line/): from
  // a scheduled task with nobody logged on, or with no display. No Qt
  // object is made on that way, and on Linux no Qt library is even loaded.
  if (argc > 1) {
#ifdef LC_MESSAGES
    // The system's reasons in the user's language, as QApplication sets
    // them for the window; numbers keep the C locale's form.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
#endif
    return avendro::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                   AVENDRO_RECORD_VERSION);
  }
  return avendro::StartWindow(argc, argv);
}
