#pragma once

#include <string>

namespace avendro {

// The text output of a run without a window: the standard output it was
// given (a file, a pipe, a terminal) or, on Windows, the console of the
// program that started it. Writes `line` (UTF-8) and a line end, at once;
// nothing happens when there is no such output, as under a scheduled task.
void WriteConsoleLine(const std::string& line);

}  // namespace avendro
