#include "platform/win32_error.h"

#include <windows.h>

#include <cstdio>

namespace avendro {

Status Win32Error(const std::string& what, unsigned long code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason;
  if (n > 0 && text != nullptr) reason.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  char number[32];
  std::snprintf(number, sizeof number, code > 0xFFFF ? "0x%08lX" : "%lu", code);
  if (reason.empty()) return Status::Error(what + ": errore " + number);
  return Status::Error(what + ": " + reason + " (" + number + ")");
}

}  // namespace avendro
