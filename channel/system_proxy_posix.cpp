#include "channel/system_proxy.h"

namespace avendro {

std::optional<std::string> SystemProxy(const std::string&) { return std::nullopt; }

}  // namespace avendro
