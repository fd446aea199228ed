#include <csignal>
#include <cstdio>

#include "platform/console.h"

namespace avendro {

void WriteConsoleLine(const std::string& line) {
  // A reader that goes away (`| head -1`, a closed terminal) must not end
  // the run: the write then fails instead of raising SIGPIPE, and the
  // console is dropped for the rest of the run.
  static const bool kIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  static bool dropped = false;
  (void)kIgnored;
  if (dropped) return;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  // Whoever reads a pipe or a redirected file sees each line as it happens.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) dropped = true;
}

}  // namespace avendro
