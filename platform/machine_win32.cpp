#include "platform/machine.h"

#include <windows.h>

#include "platform/utf16_win32.h"

namespace avendro {

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return "";
  return ToUtf8(std::wstring_view(name, size));
}

}  // namespace avendro
