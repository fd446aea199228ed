// A stand-in for the archiver d:\drubel\rar.exe that the update scripts
// call. It extracts nothing: it appends to rar-calls.txt, beside itself,
// one line per call with the folder it was started in and its arguments
// exactly as it received them (the command line after the program name
// and the one blank that follows it, trailing blanks included):
//   folder=[D:\drubel] arguments=[e -o+ d:\morva\morva.rar ]
// and ends with exit code 0. Built as a self-contained program:
//   x86_64-w64-mingw32-g++-posix -static -O2 -std=c++20 -I<source root>
//     -o rar.exe fake_rar_main.cpp <source root>/platform/utf16_win32.cpp
#include <windows.h>

#include "platform/utf16_win32.h"

#include <string>

namespace {

// What follows the program name: the name ends at the first blank outside
// quotes, and one blank separates it from the arguments.
std::wstring Arguments(const std::wstring& line) {
  size_t i = 0;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    if (line[i] == L'"') quoted = !quoted;
    if (!quoted && (line[i] == L' ' || line[i] == L'\t')) break;
  }
  if (i < line.size()) ++i;
  return line.substr(i);
}

}  // namespace

int main() {
  wchar_t own[MAX_PATH];
  std::wstring record(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
  record.erase(record.find_last_of(L"\\/") + 1);
  record += L"rar-calls.txt";

  wchar_t folder[MAX_PATH] = L"";
  GetCurrentDirectoryW(MAX_PATH, folder);
  const std::string line = "folder=[" + avendro::ToUtf8(folder) + "] arguments=[" +
                           avendro::ToUtf8(Arguments(GetCommandLineW())) + "]\r\n";

  // Appending with one write keeps the lines of concurrent calls whole.
  HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == line.size() ? 0 : 1;
}
