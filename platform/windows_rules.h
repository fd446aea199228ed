#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

// What the Win32 layer decides from what Windows answered. Wine enforces
// none of these rules (elevation, the system's own junctions, access rights,
// scanners holding new files), so the decisions are kept apart from the
// calls and built on every system, where tests hand them the system's real
// values. The constants are Windows' own; the Win32 layer checks them
// against the system headers at compile time.
namespace avendro::windows {

// GetLastError() codes.
constexpr uint32_t kErrorFileNotFound = 2;         // ERROR_FILE_NOT_FOUND
constexpr uint32_t kErrorPathNotFound = 3;         // ERROR_PATH_NOT_FOUND
constexpr uint32_t kErrorAccessDenied = 5;         // ERROR_ACCESS_DENIED
constexpr uint32_t kErrorHandleDiskFull = 39;      // ERROR_HANDLE_DISK_FULL
constexpr uint32_t kErrorDiskFull = 112;           // ERROR_DISK_FULL
constexpr uint32_t kErrorSharingViolation = 32;    // ERROR_SHARING_VIOLATION
constexpr uint32_t kErrorAlreadyExists = 183;      // ERROR_ALREADY_EXISTS
constexpr uint32_t kErrorElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
constexpr uint32_t kErrorCancelled = 1223;         // ERROR_CANCELLED

// Reparse tags (winnt.h). Bit 29 marks a name surrogate: a tag that stands
// for another name in the file system.
constexpr uint32_t kReparseTagMountPoint = 0xA0000003;  // junction
constexpr uint32_t kReparseTagSymlink = 0xA000000C;
constexpr uint32_t kReparseTagDedup = 0x80000013;
constexpr uint32_t kReparseTagWof = 0x80000017;    // compressed system files
constexpr uint32_t kReparseTagCloud = 0x9000001A;  // OneDrive placeholders
constexpr uint32_t kReparseTagAppExecLink = 0x8000001B;

// Well-known owners.
constexpr std::string_view kSidLocalSystem = "S-1-5-18";
constexpr std::string_view kSidAdministrators = "S-1-5-32-544";
constexpr std::string_view kSidTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// What to do with an entry on a path that is a reparse point.
enum class ReparseVerdict {
  kOrdinary,  // not a name surrogate: a file or folder like any other
  kFollow,    // a link that only the system or an administrator could make
  kRefuse,    // a link that anyone could have planted
};

// Judges a reparse point by its tag (0 when the system did not tell it, as
// Wine does not) and the string form of its owner's SID (empty when it
// could not be read). A tag that is unknown counts as a link: a mistake
// then refuses a file, never follows a planted link.
ReparseVerdict JudgeReparsePoint(uint32_t tag, std::string_view owner_sid);

// The code page in which lines written to a pipe or a file reach their
// reader: the output code page of the console of the program that started
// Avendro (cmd, PowerShell), or the OEM code page when it has none (850 on
// an Italian Windows). A console itself is written in UTF-16.
uint32_t ReaderCodePage(uint32_t console_output_code_page, uint32_t oem_code_page);

// Access rights (winnt.h), as icacls abbreviates them.
constexpr uint32_t kFileListDirectory = 0x00000001;   // RD
constexpr uint32_t kFileReadAttributes = 0x00000080;  // RA
constexpr uint32_t kReadControl = 0x00020000;         // RC
constexpr uint32_t kSynchronize = 0x00100000;         // S

// What the tag and the owner of a link are read with. The system's
// junctions deny everyone the listing and SYNCHRONIZE ("Everyone:(DENY)
// (S,RD)"), and CreateFileW adds SYNCHRONIZE to every open, so the link is
// opened below CreateFileW with these rights alone.
constexpr uint32_t kLinkQueryAccess = kReadControl | kFileReadAttributes;

// One entry of an access list that applies to the caller.
struct CallerEntry {
  bool deny;
  uint32_t mask;
};

// Whether an open asking `desired` passes `entries`, the entries of an
// object's access list that apply to the caller, in their order, as
// Windows checks them: an entry that denies a right not yet allowed
// refuses the open.
bool AccessGranted(uint32_t desired, std::span<const CallerEntry> entries);

// Whether a script is still running, from the open of the job object
// named after its path: the name lasts as long as the script's process. An
// open refused with ERROR_ACCESS_DENIED is a job that exists, made by a
// night's task running as SYSTEM.
bool ScriptJobRunning(bool opened, uint32_t error);

// Whether a move over a file that failed with `error` may succeed when
// tried again shortly: a scanner or indexer that opens every new file can
// hold it for a moment. Nothing else is worth another try.
bool IsTransientReplaceError(uint32_t error);

// The pause before try number `retry` (1, 2, …) of such a move, or zero when
// no more tries are due; the pauses add up to about two seconds.
std::chrono::milliseconds ReplaceRetryPause(int retry);

// Whether a failure with `error` is a refusal of access ("access denied",
// or a program that asks for rights the operator lacks).
bool IsAccessRefusal(uint32_t error);

// The kind of a failure with GetLastError() `error`.
StatusCode KindOfError(uint32_t error);

// The reason of such a refusal of `what`. For a path ("d:\drubel\x"), it
// asks for the rights on the folder that holds it, never for an elevated
// Avendro: an Avendro with administrator rights would run what any user
// can put in the work folder. For anything else (a process of another
// account) it says who holds it.
std::string AccessRefusalReason(std::string_view what);

// The reason when the operator answered No to the system's prompt for
// administrator rights (ERROR_CANCELLED from the shell's start).
inline constexpr std::string_view kElevationRefusedReason =
    "l'operatore non ha concesso l'autorizzazione richiesta dal Controllo dell'account utente";

// Whether opening or locking the drive's lock file failed because another
// Avendro holds it (a sharing or lock violation).
bool LockTakenByAnother(uint32_t error);

// Access masks and ACE flags (winnt.h).
constexpr uint32_t kFileWriteData = 0x2;        // FILE_WRITE_DATA, FILE_ADD_FILE
constexpr uint32_t kFileAppendData = 0x4;       // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
constexpr uint32_t kFileDeleteChild = 0x40;     // FILE_DELETE_CHILD
constexpr uint32_t kDelete = 0x10000;           // DELETE
constexpr uint32_t kWriteDac = 0x40000;         // WRITE_DAC
constexpr uint32_t kWriteOwner = 0x80000;       // WRITE_OWNER
constexpr uint32_t kGenericAll = 0x10000000;    // GENERIC_ALL
constexpr uint32_t kGenericWrite = 0x40000000;  // GENERIC_WRITE
constexpr uint8_t kInheritOnlyAce = 0x8;        // INHERIT_ONLY_ACE

// One entry of a file's or folder's DACL, as GetAce gives it.
struct AccessEntry {
  bool allow;     // ACCESS_ALLOWED_ACE_TYPE; else ACCESS_DENIED_ACE_TYPE
  uint8_t flags;  // AceFlags
  uint32_t mask;
  std::string sid;  // string form
};

// Whether an account without administrator rights could change what lies at
// a path whose security descriptor has this owner and DACL (`has_dacl`
// false for a NULL DACL, which lets everyone do everything): write or add
// to it, delete or rename it, or change its rights. Entries for SYSTEM,
// the Administrators, TrustedInstaller, the services and app containers do
// not count; the owner may always change the rights. A mistake refuses a
// safe folder, never passes one that users can write.
// `admin_sid`, when not empty, is an account whose every logon is an
// administrator (Windows' built-in Administrator; Wine's one user).
bool StandardUsersCanWrite(std::string_view owner_sid, bool has_dacl,
                           const std::vector<AccessEntry>& dacl, std::string_view admin_sid = "");

// GetDriveType() values.
constexpr uint32_t kDriveRemovable = 2;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kDriveRemote = 4;

// Why a drive cannot be the work drive of the nightly task, or "" when it
// can: a network drive or a subst (QueryDosDevice gives "\??\C:\…" for
// one) belongs to one user's logon, which the task does not have; a
// removable drive may be any stick that holds a \drubel folder.
std::string NightlyDriveRefusal(uint32_t drive_type, std::wstring_view dos_device);

// The time ("02:00") and work drive ("D:") of the nightly task as
// "schtasks /Query /TN … /XML" prints it (in UTF-16 or a code page: only
// its ASCII tags are read). False when it holds neither.
bool ReadNightlyTask(std::string_view printed, std::string* time, std::string* drive);

// The file name of a shell item's path ("C:\drubel\setup.exe" gives
// "setup.exe"), whatever the shell shows as its display name.
std::wstring_view FileNameOfPath(std::wstring_view path);

// "3", or "0xC000013A" for a code that reads better in hexadecimal (an
// NTSTATUS such as the one of a process ended by Ctrl+C).
std::string ExitCodeText(uint32_t code);

}  // namespace avendro::windows
