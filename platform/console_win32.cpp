#include <windows.h>

#include "platform/console.h"
#include "platform/utf16_win32.h"

namespace avendro {
namespace {

// A window program gets no console of its own. Its standard output is used
// when the caller gave it one (a redirection, a pipe); else it attaches to
// the console of the program that started it, if that has one.
HANDLE Output() {
  static HANDLE output = [] {
    HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
    if (given != nullptr && given != INVALID_HANDLE_VALUE &&
        GetFileType(given) != FILE_TYPE_UNKNOWN)
      return given;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return INVALID_HANDLE_VALUE;
    return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  }();
  return output;
}

}  // namespace

void WriteConsoleLine(const std::string& line) {
  HANDLE output = Output();
  if (output == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(output, &mode)) {
    // A console shows UTF-16 whatever its code page: "è" stays "è".
    std::wstring wide;
    if (!ToUtf16(line, &wide).ok()) wide = L"?";  // the lines are UTF-8 already (Printable)
    wide += L"\r\n";
    DWORD written = 0;
    WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::string bytes;
  for (char c : line) {
    if (c == '\n') bytes += '\r';  // the usage has several lines
    bytes += c;
  }
  bytes += "\r\n";
  DWORD written = 0;
  WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace avendro
