#include "platform/machine.h"

#include <unistd.h>

#include <climits>

namespace avendro {

std::string ComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace avendro
