#pragma once

#include <array>
#include <string>
#include <string_view>

namespace avendro {

inline constexpr int kSlotCount = 20;     // check boxes aa1(0)..aa1(19)
inline constexpr int kProductCount = 16;  // slots 0..15 carry a program
inline constexpr int kNomiProgrammiCount = 21;

// Fixed places on the work drive. Path tails begin with ":\" and get the
// work drive letter in front.
inline constexpr std::string_view kWorkFolder = ":\\drubel";
inline constexpr std::string_view kRarTool = ":\\drubel\\rar.exe";
// The RAR tool's extract command, overwriting without asking; the archive
// follows.
inline constexpr std::string_view kRarExtract = ":\\drubel\\rar e -o+ ";
// The script of the install runs (and of the update runs of slots 1..3).
inline constexpr std::string_view kWorkScript = ":\\drubel\\aggiorna.bat";
// Where the archiver bootstrap puts the RAR installer.
inline constexpr std::string_view kRarInstaller = ":\\drubel\\wrar361it.exe";
// Files Avendro keeps in the work folder: its log (a full one moves aside as
// "avendro.log.1"), the record of the archives installed, the times of the
// signatures accepted, and the drive's copy of the last report for the
// vendor.
inline constexpr std::string_view kLogFileName = "avendro.log";
inline constexpr std::string_view kLogFile = ":\\drubel\\avendro.log";
inline constexpr std::string_view kInstalledRecord = ":\\drubel\\avendro-installati.txt";
inline constexpr std::string_view kSignatureRecord = ":\\drubel\\avendro-firme.txt";
inline constexpr std::string_view kReportCopy = ":\\drubel\\avendro-rapporto.txt";
// The installer that the install script starts, and whose date the version
// label shows (in C:\drubel).
inline constexpr std::string_view kSetupProgram = "setup.exe";

// The server's folders below the site: the archives and their signatures,
// and the RAR installer with the name it has there.
inline constexpr std::string_view kServerDownloadFolder = "download";
inline constexpr std::string_view kServerUtilityFolder = "download/utility";
inline constexpr std::string_view kServerRarInstaller = "wrar361it.exe";

// One check-box slot. Letter case and trailing blanks are part of the
// values.
struct Product {
  int slot;
  std::string_view caption;
  std::string_view processName;
  std::string_view diskPath;
  std::string_view diskMessage;
  std::string_view updateArchive;
  std::string_view updateLocalPath;
  std::string_view updateScriptPath;
  std::string_view installArchive;  // "" when the program has no installer
  std::string_view installLocalPath;
  std::string_view updateScriptFolder{};  // where the update script runs its RAR line
  // "<source> <folder>" of a Copy line the update script ends with, or "".
  std::string_view updateCopy{};
  // Whether the line after the download names the archive.
  bool downloadLineNamesArchive = false;
};

// Slots 0..19 in order; 16..19 have no caption and no paths (19 has a
// process name only).
const std::array<Product, kSlotCount>& Catalogue();
const Product& Row(int slot);

// The process-name table: entries 0..19 from the catalogue, 20 empty.
using NomiProgrammi = std::array<std::string, kNomiProgrammiCount>;
NomiProgrammi FillNomiProgrammi();

// What start-up fills and every procedure reads afterwards.
struct Modu1 {
  char LetteraUnita = 'c';
  NomiProgrammi nomiProgrammi;
};

// `LetteraUnita` followed by a path tail that begins with ":\".
std::string OnDrive(char lettera, std::string_view tail);

}  // namespace avendro
