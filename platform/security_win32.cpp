#include "platform/security_win32.h"

// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <vector>

#include "platform/utf16_win32.h"
#include "platform/win32_error.h"
#include "platform/windows_rules.h"

namespace avendro {
namespace {

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return "";
  std::string result = ToUtf8(text);
  LocalFree(text);
  return result;
}

// The account whose every logon is an administrator, when this program runs
// as one: Windows' built-in Administrator, which UAC does not filter, or
// the one user of a Wine prefix, who owns every file and is always the
// administrator. Empty for anyone else.
std::string AlwaysAdministrator() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  alignas(TOKEN_USER) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeFull;
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                    GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
  CloseHandle(token);
  if (!read) return "";
  const std::string sid = SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  const bool builtin = type == TokenElevationTypeDefault && sid.size() > 4 &&
                       sid.compare(sid.size() - 4, 4, "-500") == 0;
  return wine || builtin ? sid : "";
}

// Whether the link at `path` is one only the system or an administrator
// could have made: judged by its own tag and owner, not by what it leads to.
bool TrustedLink(const std::wstring& path) {
  HANDLE link =
      CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (link == INVALID_HANDLE_VALUE) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(link, FileAttributeTagInfo, &tag, sizeof tag)) {
    tag.ReparseTag = 0;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::string owner_sid;
  if (GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) == ERROR_SUCCESS) {
    owner_sid = SidText(owner);
    LocalFree(descriptor);
  }
  CloseHandle(link);
  return windows::JudgeReparsePoint(tag.ReparseTag, owner_sid) != windows::ReparseVerdict::kRefuse;
}

}  // namespace

Status StandardUsersCanWritePath(const std::string& path, bool* writable) {
  std::wstring wide;
  Status status = ToUtf16(path, &wide);
  if (!status.ok()) return status;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return Win32Error(path, error);
  std::vector<windows::AccessEntry> entries;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    // The allowed and denied entries share their layout; any other kind
    // (object, callback, audit) counts as allowing, which errs on the side
    // of refusing.
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    const bool plain =
        header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE;
    entries.push_back({header->AceType != ACCESS_DENIED_ACE_TYPE, header->AceFlags,
                       plain ? ace->Mask : GENERIC_ALL,
                       plain ? SidText(&ace->SidStart) : std::string()});
  }
  *writable = windows::StandardUsersCanWrite(SidText(owner), dacl != nullptr, entries,
                                             AlwaysAdministrator());
  LocalFree(descriptor);
  return Status::Ok();
}

std::string UntrustedLinkOnPath(const std::string& path) {
  for (size_t end = path.find('\\', 3);; end = path.find('\\', end + 1)) {
    const std::string part = path.substr(0, end);
    std::wstring wide;
    if (!ToUtf16(part, &wide).ok()) return part;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "";  // nothing there, nor below
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !TrustedLink(wide)) return part;
    if (end == std::string::npos) return "";
  }
}

}  // namespace avendro
