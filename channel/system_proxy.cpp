#include "channel/system_proxy.h"

#include <cctype>
#include <vector>

#include "channel/https_transport.h"

namespace avendro {

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Entries(const std::string& list) {
  std::vector<std::string> entries;
  std::string entry;
  for (char c : list + ";") {
    if (c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry += c;
    }
  }
  return entries;
}

// `text` against a bypass pattern where '*' stands for any characters.
bool Matches(const std::string& text, const std::string& pattern) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == '*') {
    for (size_t skip = 0; skip <= text.size(); ++skip) {
      if (Matches(text.substr(skip), pattern.substr(1))) return true;
    }
    return false;
  }
  return !text.empty() && text[0] == pattern[0] && Matches(text.substr(1), pattern.substr(1));
}

std::string WithoutPort(const std::string& host) {
  if (host.starts_with("[")) return host.substr(0, host.find(']') + 1);
  return host.substr(0, host.find(':'));
}

bool Bypassed(const std::string& bypass, const std::string& host) {
  for (std::string entry : Entries(LowerAscii(bypass))) {
    // "<local>": names without a dot, the machines of the shop's network.
    if (entry == "<local>") {
      if (host.find('.') == std::string::npos && !host.starts_with("[")) return true;
      continue;
    }
    const size_t scheme = entry.find("://");
    if (scheme != std::string::npos) entry = entry.substr(scheme + 3);
    if (Matches(host, WithoutPort(entry))) return true;
  }
  return false;
}

}  // namespace

std::string ChooseProxy(const SystemProxySettings& settings, const std::string& url) {
  const std::string host = LowerAscii(WithoutPort(HttpsTransport::HostOf(url)));
  if (settings.proxy.empty() || Bypassed(settings.bypass, host)) return "";
  // "https=h:p" among others is the one for https; a list of that form
  // without it sends https directly, as Windows does.
  bool per_scheme = false;
  for (const std::string& entry : Entries(settings.proxy)) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    per_scheme = true;
    if (LowerAscii(entry.substr(0, equals)) == "https") return entry.substr(equals + 1);
  }
  if (per_scheme) return "";
  const std::vector<std::string> entries = Entries(settings.proxy);
  return entries.empty() ? "" : entries.front();
}

}  // namespace avendro
