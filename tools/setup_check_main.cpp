// What the installer (tools/avendro.nsi) asks the system, with the same
// decisions as the program (platform/windows_rules.h). The installer runs
// it from its temporary folder, so it is linked statically. Each question
// writes its answer, when it has one, as one line of UTF-16LE text to the
// file named last, which NSIS reads whatever the user's code page:
//   setup_check cartella PATH FILE   0 only administrators can change PATH;
//                                    1 standard users can; 2 unknown (FILE: why)
//   setup_check unita X: FILE        0 a fixed drive of this PC; 1 not (FILE: why)
//   setup_check utente FILE          0 FILE: the account of the session ("PC\mario")
//   setup_check notturno FILE        0 FILE: "02:00 D:", the time and drive of the
//                                    nightly task already registered; 1 none
#include <windows.h>
#include <wtsapi32.h>

#include <string>

#include "platform/security_win32.h"
#include "platform/utf16_win32.h"
#include "platform/win32_error.h"
#include "platform/windows_rules.h"

namespace {

int Answer(const std::wstring& file, int code, const std::string& text) {
  std::wstring wide;
  if (!avendro::ToUtf16(text, &wide).ok()) wide = L"?";
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
  const bool ok = WriteFile(out, wide.data(), size, &written, nullptr) && written == size;
  CloseHandle(out);
  return ok ? code : 2;
}

// The account logged on to this session ("PC\mario"), whoever this program
// runs as: the one that started the installer before its prompt for
// administrator rights.
avendro::Status SessionAccount(std::string* account) {
  wchar_t* user = nullptr;
  wchar_t* domain = nullptr;
  DWORD size = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName,
                                   &user, &size)) {
    return avendro::Win32Error("utente della sessione", GetLastError());
  }
  if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSDomainName,
                                  &domain, &size) &&
      domain[0] != L'\0') {
    *account = avendro::ToUtf8(domain) + "\\" + avendro::ToUtf8(user);
  } else {
    *account = avendro::ToUtf8(user);
  }
  WTSFreeMemory(user);
  if (domain != nullptr) WTSFreeMemory(domain);
  if (account->empty() || account->back() == '\\') {
    return avendro::Status::Error("utente della sessione: nessuno ha aperto una sessione");
  }
  return avendro::Status::Ok();
}

// What `command` prints, with its exit code; "" when it cannot be started.
std::string Printed(std::wstring command) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return "";
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  CloseHandle(write);
  std::string printed;
  char buf[4096];
  DWORD n = 0;
  while (started && ReadFile(read, buf, sizeof buf, &n, nullptr) && n > 0) printed.append(buf, n);
  CloseHandle(read);
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  return printed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring question = argc > 1 ? argv[1] : L"";
  const std::wstring file = argv[argc - 1];
  if (question == L"cartella" && argc == 4) {
    bool writable = true;
    avendro::Status status =
        avendro::StandardUsersCanWritePath(avendro::ToUtf8(argv[2]), &writable);
    if (!status.ok()) return Answer(file, 2, status.message());
    return Answer(file, writable ? 1 : 0, "");
  }
  if (question == L"unita" && argc == 4) {
    const std::wstring drive = std::wstring(argv[2]).substr(0, 2);
    const std::wstring root = drive + L"\\";
    wchar_t target[1024] = L"";
    if (QueryDosDeviceW(drive.c_str(), target, 1024) == 0) target[0] = L'\0';
    const std::string why =
        avendro::windows::NightlyDriveRefusal(GetDriveTypeW(root.c_str()), target);
    return Answer(file, why.empty() ? 0 : 1, why);
  }
  if (question == L"utente" && argc == 3) {
    std::string account;
    avendro::Status status = SessionAccount(&account);
    return status.ok() ? Answer(file, 0, account) : Answer(file, 2, status.message());
  }
  if (question == L"notturno" && argc == 3) {
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 2;
    const std::string printed =
        Printed(L"\"" + std::wstring(system, n) +
                L"\\schtasks.exe\" /Query /TN \"Avendro aggiornamento notturno\" /XML");
    std::string time, drive;
    if (!avendro::windows::ReadNightlyTask(printed, &time, &drive)) return 1;
    return Answer(file, 0, time + " " + drive);
  }
  return 2;
}
