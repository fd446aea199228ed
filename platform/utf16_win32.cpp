#include "platform/utf16_win32.h"

#include <windows.h>

#include <climits>

namespace avendro {

Status ToUtf16(const std::string& utf8, std::wstring* utf16) {
  utf16->clear();
  if (utf8.empty()) return Status::Ok();
  int n = 0;
  if (utf8.size() <= INT_MAX) {
    n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                            static_cast<int>(utf8.size()), nullptr, 0);
  }
  if (n <= 0) return Status::Error(utf8 + ": non è testo UTF-8 valido");
  utf16->resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                      utf16->data(), n);
  return Status::Ok();
}

std::string ToUtf8(std::wstring_view utf16) {
  if (utf16.empty() || utf16.size() > INT_MAX) return "";
  const int length = static_cast<int>(utf16.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return "";
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

}  // namespace avendro
