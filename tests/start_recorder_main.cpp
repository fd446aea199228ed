// Stands in for cmd.exe (Win32Launcher::UseInterpreter) and for an installer in the update tests on
// Windows (FakeStarter in tests/update_fixture.h). Started the way scripts
// are started, as "<itself> /c ""<script>""", it records the script;
// started any other way, it records itself. In the folder named by
// AVENDRO_START_RECORD it appends to "record" the line
// "start /wait /max <path>" (or /min, after the show command it was given;
// with "(not in its folder)" after it when started in another folder),
// then, when "hold" there holds a number of seconds, waits that long and
// adds "CHANGED <path>" if the file at <path> changed meanwhile; last
// "END <path>", and ends with the exit code that "exit" there holds (else
// 0). Linked statically, so that a copy runs wherever it lies.
#include <windows.h>

#include "platform/utf16_win32.h"

#include <cstdlib>
#include <string>

namespace {

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string bytes;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(file, buf, sizeof buf, &n, nullptr) && n > 0) bytes.append(buf, n);
  CloseHandle(file);
  return bytes;
}

// Appends with one write, which keeps the lines of tasks side by side whole.
void Append(const std::wstring& record, const std::string& line) {
  HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring Unquoted(std::wstring text) {
  if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

// The script of "<program> /c ""<script>""", else the program itself.
std::wstring StartedPath(const std::wstring& line) {
  size_t end = line[0] == L'"' ? line.find(L'"', 1) + 1 : line.find(L' ');
  if (end == 0 || end == std::wstring::npos) end = line.size();
  std::wstring program = Unquoted(line.substr(0, end));
  std::wstring rest = end < line.size() ? line.substr(end + 1) : L"";
  if (rest.rfind(L"/c ", 0) == 0 || rest.rfind(L"/C ", 0) == 0) {
    return Unquoted(Unquoted(rest.substr(3)));
  }
  return program;
}

}  // namespace

int main() {
  wchar_t folder[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"AVENDRO_START_RECORD", folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  const std::wstring record = std::wstring(folder, n) + L"\\record";
  const std::string hold = ReadAll(std::wstring(folder, n) + L"\\hold");

  const std::wstring path = StartedPath(GetCommandLineW());
  const std::string shown = avendro::ToUtf8(path);
  STARTUPINFOW startup;
  GetStartupInfoW(&startup);
  std::string style = "/default";
  if (startup.dwFlags & STARTF_USESHOWWINDOW) {
    style = startup.wShowWindow == SW_SHOWMAXIMIZED ? "/max"
            : startup.wShowWindow == SW_SHOWMINIMIZED
                ? "/min"
                : "/show" + std::to_string(startup.wShowWindow);
  }
  // Started in any folder but its own, the line says so.
  wchar_t current[MAX_PATH] = L"";
  std::wstring own = path.substr(0, path.find_last_of(L'\\'));
  if (own.size() == 2) own += L'\\';
  const bool in_own = GetCurrentDirectoryW(MAX_PATH, current) > 0 &&
                      CompareStringOrdinal(current, -1, own.c_str(), -1, TRUE) == CSTR_EQUAL;
  Append(record,
         "start /wait " + style + " " + shown + (in_own ? "" : " (not in its folder)") + "\n");

  if (!hold.empty()) {
    const std::string before = ReadAll(path);
    Sleep(static_cast<DWORD>(std::atof(hold.c_str()) * 1000));
    if (ReadAll(path) != before) Append(record, "CHANGED " + shown + "\n");
  }
  Append(record, "END " + shown + "\n");
  return std::atoi(ReadAll(std::wstring(folder, n) + L"\\exit").c_str());
}
