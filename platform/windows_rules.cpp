#include "platform/windows_rules.h"

#include <array>
#include <cctype>
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

bool AccessGranted(uint32_t desired, std::span<const CallerEntry> entries) {
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

bool IsAccessRefusal(uint32_t error) {
  return error == kErrorAccessDenied || error == kErrorElevationRequired;
}

StatusCode KindOfError(uint32_t error) {
  if (IsAccessRefusal(error)) return StatusCode::kRefused;
  switch (error) {
    case kErrorFileNotFound:
    case kErrorPathNotFound:
      return StatusCode::kNotFound;
    case kErrorDiskFull:
    case kErrorHandleDiskFull:
      return StatusCode::kOutOfSpace;
    case kErrorCancelled:
      return StatusCode::kCancelled;
    default:
      return StatusCode::kFailed;
  }
}

std::string AccessRefusalReason(std::string_view what) {
  const bool path =
      what.size() >= 2 && what[1] == ':' && std::isalpha(static_cast<unsigned char>(what[0])) != 0;
  if (!path) return "accesso negato; lo possono fare solo il suo utente o un amministratore del PC";
  // Creating or replacing an entry takes rights on the folder that holds it.
  size_t cut = what.find_last_of('\\');
  std::string folder(what.substr(0, cut == std::string_view::npos ? 2 : cut));
  if (folder.size() == 2) folder += '\\';
  return "accesso negato; chiedere all'amministratore del PC di dare agli utenti i permessi "
         "sulla cartella " +
         folder;
}

bool LockTakenByAnother(uint32_t error) {
  constexpr uint32_t kErrorLockViolation = 33;  // ERROR_LOCK_VIOLATION
  return error == kErrorSharingViolation || error == kErrorLockViolation;
}

namespace {

// Accounts that only an administrator, the system or a service acts as;
// `admin` is one more (an account that is always an administrator).
bool Privileged(std::string_view sid, std::string_view admin) {
  return sid == kSidLocalSystem || sid == kSidAdministrators || sid == kSidTrustedInstaller ||
         sid == "S-1-5-19" || sid == "S-1-5-20" ||  // Local Service, Network Service
         sid == "S-1-3-0" || sid == "S-1-3-1" ||    // Creator Owner, Creator Group
         sid.rfind("S-1-5-80-", 0) == 0 ||          // services
         sid.rfind("S-1-15-", 0) == 0 ||            // app containers, more limited than users
         (!admin.empty() && sid == admin);
}

// Groups that every signed-in user belongs to.
bool EveryUser(std::string_view sid) {
  return sid == "S-1-1-0" || sid == "S-1-5-11" ||
         sid == "S-1-5-32-545" ||  // Everyone, Authenticated Users, Users
         sid == "S-1-5-4" || sid == "S-1-2-0" ||
         sid == "S-1-2-1";  // Interactive, Local, Console Logon
}

}  // namespace

bool StandardUsersCanWrite(std::string_view owner_sid, bool has_dacl,
                           const std::vector<AccessEntry>& dacl, std::string_view admin_sid) {
  if (!has_dacl) return true;
  // The owner may always rewrite the DACL.
  if (!Privileged(owner_sid, admin_sid)) return true;
  constexpr uint32_t kFileAllAccess = 0x1F01FF;
  constexpr uint32_t kFileGenericWrite = 0x120116;
  constexpr uint32_t kChange =
      kFileWriteData | kFileAppendData | kFileDeleteChild | kDelete | kWriteDac | kWriteOwner;
  uint32_t denied_to_all = 0;
  for (const AccessEntry& entry : dacl) {
    if ((entry.flags & kInheritOnlyAce) != 0 || Privileged(entry.sid, admin_sid)) continue;
    uint32_t mask = entry.mask;
    if (mask & kGenericAll) mask |= kFileAllAccess;
    if (mask & kGenericWrite) mask |= kFileGenericWrite;
    // The entries are in order: a denial to every user stands before what
    // later entries allow. A denial to one user leaves the others.
    if (!entry.allow) {
      if (EveryUser(entry.sid)) denied_to_all |= mask;
      continue;
    }
    if ((mask & kChange & ~denied_to_all) != 0) return true;
  }
  return false;
}

std::string NightlyDriveRefusal(uint32_t drive_type, std::wstring_view dos_device) {
  if (dos_device.rfind(L"\\??\\", 0) == 0) {
    return "è una cartella di un'altra unità (subst), che esiste solo nella sessione di chi "
           "l'ha creata: indicare l'unità su cui si trova la cartella";
  }
  if (drive_type == kDriveRemote) {
    return "è un'unità di rete: l'aggiornamento notturno gira senza le credenziali di rete "
           "dell'utente e non la raggiunge; indicare un disco di questo PC";
  }
  if (drive_type == kDriveRemovable) {
    return "è un disco rimovibile: indicare un disco fisso di questo PC";
  }
  if (drive_type != kDriveFixed) return "non è un disco fisso di questo PC";
  return "";
}

bool ReadNightlyTask(std::string_view printed, std::string* time, std::string* drive) {
  std::string text;
  for (char c : printed) {
    if (c != '\0') text += c;
  }
  const size_t start = text.find("<StartBoundary>");
  const size_t at = start == std::string::npos ? start : text.find('T', start + 15);
  const size_t option = text.find("--unita ");
  if (at == std::string::npos || option == std::string::npos || text.size() < option + 10) {
    return false;
  }
  *time = text.substr(at + 1, 5);
  *drive = text.substr(option + 8, 2);
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return time->size() == 5 && digit((*time)[0]) && digit((*time)[1]) && (*time)[2] == ':' &&
         digit((*time)[3]) && digit((*time)[4]) &&
         std::isalpha(static_cast<unsigned char>((*drive)[0])) != 0 && (*drive)[1] == ':';
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
