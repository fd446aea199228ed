#pragma once

#include <chrono>
#include <string>

namespace avendro {

// `when` in the machine's local time, as the log file writes it:
// "2026-12-08 02:00:03".
std::string LocalTimeText(std::chrono::system_clock::time_point when);

// `when` in UTC as ISO 8601, "2026-12-09T01:00:03Z": the same for a reader
// in any time zone.
std::string UtcTimeText(std::chrono::system_clock::time_point when);

}  // namespace avendro
