#pragma once

#include <string>

namespace avendro {

// The computer's name as the network knows it ("CASSA-1"); "" when the
// system does not tell.
std::string ComputerName();

}  // namespace avendro
