#include "platform/win32_error.h"

#include <windows.h>

#include <cstdio>

#include "platform/utf16_win32.h"

namespace avendro {

Status Win32Error(const std::string& what, unsigned long code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason;
  if (n > 0 && text != nullptr) reason = ToUtf8(std::wstring_view(text, n));
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
