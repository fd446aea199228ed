#include "platform/local_time.h"

#include <ctime>

namespace avendro {
namespace {

// `when` broken down in local time or UTC, then written with `format`.
std::string TimeText(std::chrono::system_clock::time_point when, bool utc, const char* format) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm parts{};
#ifdef _WIN32
  utc ? gmtime_s(&parts, &seconds) : localtime_s(&parts, &seconds);
#else
  utc ? gmtime_r(&seconds, &parts) : localtime_r(&seconds, &parts);
#endif
  char text[32];
  if (std::strftime(text, sizeof text, format, &parts) == 0) return "?";
  return text;
}

}  // namespace

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
  return TimeText(when, false, "%Y-%m-%d %H:%M:%S");
}

std::string UtcTimeText(std::chrono::system_clock::time_point when) {
  return TimeText(when, true, "%Y-%m-%dT%H:%M:%SZ");
}

}  // namespace avendro
