// A stand-in for the programs the tests start and stop. Whatever its
// arguments, it writes how it was started (show command, current folder,
// command line) to <own path>.avvio, waits until <own path>.fine exists (at
// most 60 s), and ends with exit code 0.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
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

  const std::string end = self + ".fine";
  for (int waited = 0; waited < 60000; waited += 50) {
    if (GetFileAttributesA(end.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  return 0;
}
