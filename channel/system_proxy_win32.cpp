#include <windows.h>
#include <winhttp.h>

#include "channel/system_proxy.h"
#include "platform/utf16_win32.h"

namespace avendro {

namespace {

// The text of a string that WinHTTP allocated, which it then frees.
std::string Taken(LPWSTR text) {
  if (text == nullptr) return "";
  std::string utf8 = ToUtf8(text);
  GlobalFree(text);
  return utf8;
}

}  // namespace

std::optional<std::string> SystemProxy(const std::string& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  // Fails where the user has no such settings (a service account): then
  // the environment's variables decide, as elsewhere.
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return std::nullopt;
  SystemProxySettings settings;
  settings.auto_detect = config.fAutoDetect != FALSE;
  settings.auto_config_url = Taken(config.lpszAutoConfigUrl);
  settings.proxy = Taken(config.lpszProxy);
  settings.bypass = Taken(config.lpszProxyBypass);
  return ChooseProxy(settings, url);
}

}  // namespace avendro
