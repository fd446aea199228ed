#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// What the Win32 layer decides from what Windows answered. Wine enforces
// none of these rules (elevation, the system's own junctions, access rights,
// scanners holding new files), so the decisions are kept apart from the
// calls and built on every system, where tests hand them the system's real
// values. The constants are Windows' own; the Win32 layer checks them
// against the system headers at compile time.
namespace avendro::windows {

// GetLastError() codes.
constexpr uint32_t kErrorAccessDenied = 5;         // ERROR_ACCESS_DENIED
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
struct AccessEntry {
  bool deny;
  uint32_t mask;
};

// Whether an open asking `desired` passes `entries`, the entries of an
// object's access list that apply to the caller, in their order, as
// Windows checks them: an entry that denies a right not yet allowed
// refuses the open.
bool AccessGranted(uint32_t desired, std::span<const AccessEntry> entries);

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

// Whether a failure with `error` is one that an administrator would not
// meet, so that the operator should start Avendro as administrator. Never
// for a program that already runs elevated.
bool NeedsAdministrator(uint32_t error, bool elevated);

// The reason of a refusal that NeedsAdministrator recognises.
inline constexpr std::string_view kAdministratorReason =
    "accesso negato; avviare Avendro come amministratore";

// The reason when the operator answered No to the system's prompt for
// administrator rights (ERROR_CANCELLED from the shell's start).
inline constexpr std::string_view kElevationRefusedReason =
    "l'operatore non ha concesso l'autorizzazione richiesta dal Controllo dell'account utente";

// Whether CreateMutex found the one-window mutex already there: it exists
// (`error` ERROR_ALREADY_EXISTS with a handle), or it exists and may not
// be opened (no handle, ERROR_ACCESS_DENIED: an elevated Avendro made it).
bool MutexTakenByAnother(bool got_handle, uint32_t error);

// The file name of a shell item's path ("C:\drubel\setup.exe" gives
// "setup.exe"), whatever the shell shows as its display name.
std::wstring_view FileNameOfPath(std::wstring_view path);

// "3", or "0xC000013A" for a code that reads better in hexadecimal (an
// NTSTATUS such as the one of a process ended by Ctrl+C).
std::string ExitCodeText(uint32_t code);

}  // namespace avendro::windows
