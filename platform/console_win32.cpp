#include <windows.h>

#include <algorithm>

#include "platform/console.h"
#include "platform/utf16_win32.h"
#include "platform/windows_rules.h"

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

// The code page of a pipe's or a file's reader: cmd and PowerShell decode
// a program's output in their console's output code page.
UINT ReaderCodePage() {
  static const UINT code_page = [] {
    UINT console = GetConsoleOutputCP();  // 0 without a console
    if (console == 0 && AttachConsole(ATTACH_PARENT_PROCESS)) {
      console = GetConsoleOutputCP();
      FreeConsole();  // only asked: Ctrl+C in that console must not end the run
    }
    return static_cast<UINT>(windows::ReaderCodePage(console, GetOEMCP()));
  }();
  return code_page;
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
  std::wstring wide;
  if (!ToUtf16(line, &wide).ok()) wide = L"?";
  std::wstring text;
  for (wchar_t c : wide) {
    if (c == L'\n') text += L'\r';  // the usage has several lines
    text += c;
  }
  text += L"\r\n";
  const UINT code_page = ReaderCodePage();
  const int size = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace avendro
