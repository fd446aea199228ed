#include "platform/windows_rules.h"

#include <array>
#include <cstdio>

namespace avendro::windows {

ReparseVerdict JudgeReparsePoint(uint32_t tag, std::string_view owner_sid) {
  constexpr uint32_t kNameSurrogate = 0x20000000;  // IsReparseTagNameSurrogate
  if (tag != 0 && (tag & kNameSurrogate) == 0) return ReparseVerdict::kOrdinary;
  // A standard user can make a junction anywhere it may write, and owns
  // what it makes; the system's own links (C:\Programmi on an Italian
  // Windows) belong to SYSTEM, TrustedInstaller or the Administrators.
  if (owner_sid == kSidLocalSystem || owner_sid == kSidTrustedInstaller ||
      owner_sid == kSidAdministrators) {
    return ReparseVerdict::kFollow;
  }
  return ReparseVerdict::kRefuse;
}

bool AccessGranted(uint32_t desired, std::span<const AccessEntry> entries) {
  uint32_t left = desired;
  for (size_t i = 0; i < entries.size() && left != 0; ++i) {
    if (entries[i].deny && (entries[i].mask & left) != 0) return false;
    if (!entries[i].deny) left &= ~entries[i].mask;
  }
  return left == 0;
}

bool ScriptJobRunning(bool opened, uint32_t error) { return opened || error == kErrorAccessDenied; }

uint32_t ReaderCodePage(uint32_t console_output_code_page, uint32_t oem_code_page) {
  return console_output_code_page != 0 ? console_output_code_page : oem_code_page;
}

bool IsTransientReplaceError(uint32_t error) {
  return error == kErrorSharingViolation || error == kErrorAccessDenied;
}

std::chrono::milliseconds ReplaceRetryPause(int retry) {
  // Short at first, since a scan of a small file is over in a few ms.
  static constexpr std::array<int, 9> kPauses = {10, 20, 40, 80, 150, 300, 400, 500, 500};
  if (retry < 1 || retry > static_cast<int>(kPauses.size())) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(kPauses[static_cast<size_t>(retry - 1)]);
}

bool NeedsAdministrator(uint32_t error, bool elevated) {
  return !elevated && (error == kErrorAccessDenied || error == kErrorElevationRequired);
}

bool MutexTakenByAnother(bool got_handle, uint32_t error) {
  return got_handle ? error == kErrorAlreadyExists : error == kErrorAccessDenied;
}

std::wstring_view FileNameOfPath(std::wstring_view path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring_view::npos ? path : path.substr(cut + 1);
}

std::string ExitCodeText(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, code > 0xFFFF ? "0x%08X" : "%u", static_cast<unsigned>(code));
  return text;
}

}  // namespace avendro::windows
