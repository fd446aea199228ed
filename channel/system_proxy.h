#pragma once

#include <optional>
#include <string>

namespace avendro {

// What Windows keeps as the current user's proxy settings, the ones the
// shop's browser uses (WinHttpGetIEProxyConfigForCurrentUser), as text.
struct SystemProxySettings {
  bool auto_detect = false;     // "Rileva automaticamente impostazioni"
  std::string auto_config_url;  // a PAC script's address
  std::string proxy;            // "host:port", or "http=h:p;https=h:p;..."
  std::string bypass;           // "<local>;*.example.com;10.*", ';' or blank separated
};

// The proxy for `url` by those settings: "" for a direct connection. A
// script or automatic detection alone is not evaluated: a direct
// connection too.
std::string ChooseProxy(const SystemProxySettings& settings, const std::string& url);

// The proxy the system chooses for `url` ("" for a direct connection), or
// nothing where the system has no settings of its own and libcurl's
// environment variables (https_proxy, no_proxy) decide.
std::optional<std::string> SystemProxy(const std::string& url);

}  // namespace avendro
