// A stand-in for the programs the tests start and stop. It writes how it was
// started (show command, current folder) to a report file, then waits, and
// ends with exit code 0.
//   avendro_test_helper <report> <seconds>   waits that many seconds
//   avendro_test_helper                      reports to <own path>.avvio and
//                                            waits until <own path>.fine
//                                            exists (at most 60 s)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  char own[MAX_PATH];
  std::string self(own, GetModuleFileNameA(nullptr, own, sizeof own));
  std::string report = argc > 1 ? argv[1] : self + ".avvio";

  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  if (FILE* out = std::fopen(report.c_str(), "wb")) {
    std::fprintf(out, "show=%u usestartup=%d folder=%s\r\n",
                 static_cast<unsigned>(startup.wShowWindow),
                 (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0, folder);
    std::fclose(out);
  }

  if (argc > 2) {
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    return 0;
  }
  const std::string end = self + ".fine";
  for (int waited = 0; waited < 60000; waited += 50) {
    if (GetFileAttributesA(end.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  return 0;
}
