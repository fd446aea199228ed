#pragma once

namespace avendro {

// Starts the window (RunWindow) and returns its exit code. On Linux the
// window and Qt live in a library of their own beside the program,
// libavendro-window.so, loaded only here: a night run, which starts the
// program once per shop and night, then loads none of Qt's seventy-odd
// libraries, which took most of its start-up. On Windows the program links
// the window directly.
int StartWindow(int argc, char* argv[]);

// The name of the function that library exports, as `extern "C"`.
inline constexpr char kWindowEntry[] = "avendro_run_window";

}  // namespace avendro
