// A DLL planted in the current folder by the package proof under the names
// of DLLs a program may load on demand: loaded, it leaves "caricata.txt"
// in the current folder. Built on its own:
//   x86_64-w64-mingw32-g++-posix -shared -static -O2 -o planted.dll planted_dll_main.cpp
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    HANDLE file = CreateFileW(L"caricata.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  return TRUE;
}
