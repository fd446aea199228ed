#include <cstdio>

#include "platform/console.h"

namespace avendro {

void WriteConsoleLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  // Whoever reads a pipe or a redirected file sees each line as it happens.
  std::fflush(stdout);
}

}  // namespace avendro
