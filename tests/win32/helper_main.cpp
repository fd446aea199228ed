// A stand-in for the programs the tests start and stop. Whatever its
// arguments, it writes how it was started (show command, current folder,
// command line) to <own path>.avvio, waits until <own path>.fine exists (at
// most 60 s), and ends with exit code 0. Given "tieni FILE MS", it stands in
// for a virus scanner instead: it opens FILE as one does (others may read
// it, not replace it) before it reports, and holds it MS milliseconds.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  HANDLE held = INVALID_HANDLE_VALUE;
  const bool scanner = argc == 4 && std::string(argv[1]) == "tieni";
  if (scanner) {
    held = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
  }
  char own[MAX_PATH];
  std::string self(own, GetModuleFileNameA(nullptr, own, sizeof own));
  const std::string report = self + ".avvio";

  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  if (FILE* out = std::fopen(report.c_str(), "wb")) {
    std::fprintf(out, "show=%u usestartup=%d folder=%s\r\nline=%s\r\n",
                 static_cast<unsigned>(startup.wShowWindow),
                 (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0, folder, GetCommandLineA());
    std::fclose(out);
  }

  if (scanner) {
    Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    CloseHandle(held);
    return 0;
  }
  const std::string end = self + ".fine";
  for (int waited = 0; waited < 60000; waited += 50) {
    if (GetFileAttributesA(end.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  return 0;
}
