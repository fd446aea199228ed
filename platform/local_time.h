#pragma once

#include <chrono>
#include <string>

namespace avendro {

// `when` in the machine's local time, as the log file writes it:
// "2026-12-08 02:00:03".
std::string LocalTimeText(std::chrono::system_clock::time_point when);

}  // namespace avendro
