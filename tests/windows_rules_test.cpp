// What the Win32 layer decides from the system's answers, with the values
// a real Windows gives; Wine produces none of these situations.
#include "platform/windows_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace avendro::windows {
namespace {

TEST(WindowsRules, OnlyLinksOfTheSystemOrAnAdministratorAreFollowed) {
  const std::string_view user = "S-1-5-21-1004336348-1177238915-682003330-1001";
  for (uint32_t link : {kReparseTagMountPoint, kReparseTagSymlink, 0u}) {
    EXPECT_EQ(JudgeReparsePoint(link, kSidLocalSystem), ReparseVerdict::kFollow) << link;
    EXPECT_EQ(JudgeReparsePoint(link, kSidTrustedInstaller), ReparseVerdict::kFollow) << link;
    EXPECT_EQ(JudgeReparsePoint(link, kSidAdministrators), ReparseVerdict::kFollow) << link;
    EXPECT_EQ(JudgeReparsePoint(link, user), ReparseVerdict::kRefuse) << link;
    EXPECT_EQ(JudgeReparsePoint(link, "S-1-1-0"), ReparseVerdict::kRefuse) << link;  // Everyone
    EXPECT_EQ(JudgeReparsePoint(link, ""), ReparseVerdict::kRefuse) << link;
  }
  // Placeholders, deduplicated and compressed files are files, whoever owns them.
  for (uint32_t file :
       {kReparseTagCloud, kReparseTagDedup, kReparseTagWof, kReparseTagAppExecLink}) {
    EXPECT_EQ(JudgeReparsePoint(file, user), ReparseVerdict::kOrdinary) << file;
  }
}

// C:\Programmi's access list on an Italian Windows: "Everyone:(DENY)(S,RD)
// Everyone:(RX) SYSTEM:(F) Administrators:(F)". Its owner and tag can be
// read only without SYNCHRONIZE, which CreateFileW always asks.
TEST(WindowsRules, TheSystemsJunctionsAreReadWithoutSynchronize) {
  const CallerEntry deny{true, kSynchronize | kFileListDirectory}, everyone{false, 0x001200A9};
  const CallerEntry full{false, 0x001F01FF};
  for (const std::vector<CallerEntry>& caller :
       {std::vector{deny, everyone}, std::vector{deny, everyone, full, full}}) {
    EXPECT_TRUE(AccessGranted(kLinkQueryAccess, caller));
    EXPECT_FALSE(AccessGranted(kLinkQueryAccess | kSynchronize, caller));
    EXPECT_FALSE(AccessGranted(kFileListDirectory | kFileReadAttributes, caller));
  }
  EXPECT_FALSE(AccessGranted(kLinkQueryAccess, std::vector{CallerEntry{false, kReadControl}}));
}

TEST(WindowsRules, OnlyAHeldFileIsTriedAgainForAboutTwoSeconds) {
  EXPECT_TRUE(IsTransientReplaceError(32));  // ERROR_SHARING_VIOLATION
  EXPECT_TRUE(IsTransientReplaceError(5));   // ERROR_ACCESS_DENIED
  for (uint32_t other : {2u, 3u, 33u, 112u, 183u}) EXPECT_FALSE(IsTransientReplaceError(other));
  std::chrono::milliseconds total{0};
  int retries = 0;
  for (; ReplaceRetryPause(retries + 1).count() > 0; ++retries)
    total += ReplaceRetryPause(retries + 1);
  EXPECT_GE(total.count(), 1800);
  EXPECT_LE(total.count(), 2500);
  EXPECT_EQ(ReplaceRetryPause(0).count(), 0);
}

TEST(WindowsRules, ARefusalAsksForTheRightsOnTheFolderNeverForElevation) {
  EXPECT_TRUE(IsAccessRefusal(5));
  EXPECT_TRUE(IsAccessRefusal(740));  // ERROR_ELEVATION_REQUIRED
  for (uint32_t other : {2u, 32u, 1223u}) EXPECT_FALSE(IsAccessRefusal(other));
  // The kinds the callers act on: a full drive drops a partial download.
  EXPECT_EQ(KindOfError(740), StatusCode::kRefused);
  EXPECT_EQ(KindOfError(112), StatusCode::kOutOfSpace);  // ERROR_DISK_FULL
  EXPECT_EQ(KindOfError(39), StatusCode::kOutOfSpace);   // ERROR_HANDLE_DISK_FULL
  EXPECT_EQ(KindOfError(32), StatusCode::kFailed);
  EXPECT_EQ(AccessRefusalReason("d:\\programmi\\varnok\\aggiorna.bat"),
            "accesso negato; chiedere all'amministratore del PC di dare agli utenti i permessi "
            "sulla cartella d:\\programmi\\varnok");
  EXPECT_TRUE(AccessRefusalReason("c:\\programmi").ends_with("sulla cartella c:\\"));
  EXPECT_EQ(AccessRefusalReason("processo 812").find("amministratore del PC di dare"),
            std::string::npos);

  // The job of a night's script, made by SYSTEM, exists for a standard user too.
  EXPECT_TRUE(ScriptJobRunning(false, 5));
  EXPECT_FALSE(ScriptJobRunning(false, 2));  // ERROR_FILE_NOT_FOUND
  // The drive's lock file held by another Avendro.
  EXPECT_TRUE(LockTakenByAnother(32));
  EXPECT_TRUE(LockTakenByAnother(33));  // ERROR_LOCK_VIOLATION
  EXPECT_FALSE(LockTakenByAnother(5));
  EXPECT_FALSE(LockTakenByAnother(1450));  // ERROR_NO_SYSTEM_RESOURCES
}

// Windows' default rights, as icacls lists them: F 0x1F01FF, M 0x1301BF,
// RX 0x1200A9, AD 0x4, GR,GE 0xA0000000; (OI)(CI) 0x3, (IO) 0x8, (I) 0x10.
TEST(WindowsRules, StandardUsersCanWriteADataDriveAndAProfileNotProgramFiles) {
  const std::string ti(kSidTrustedInstaller), system(kSidLocalSystem), admins(kSidAdministrators),
      mario = "S-1-5-21-1004336348-1177238915-682003330-1001";
  const std::vector<AccessEntry> program_files = {{true, 0x0, 0x1F01FF, ti},
                                                  {true, 0xA, 0x10000000, ti},
                                                  {true, 0x0, 0x1301BF, system},
                                                  {true, 0xB, 0x10000000, system},
                                                  {true, 0x0, 0x1301BF, admins},
                                                  {true, 0xB, 0x10000000, admins},
                                                  {true, 0x0, 0x1200A9, "S-1-5-32-545"},
                                                  {true, 0xB, 0xA0000000, "S-1-5-32-545"},
                                                  {true, 0xB, 0x10000000, "S-1-3-0"},
                                                  {true, 0x0, 0x1200A9, "S-1-15-2-1"}};
  EXPECT_FALSE(StandardUsersCanWrite(ti, true, program_files));
  std::vector<AccessEntry> installed;  // C:\Program Files\Avendro, made by the installer
  for (AccessEntry e : program_files)
    installed.push_back({e.allow, uint8_t(e.flags | 0x10), e.mask, e.sid});
  EXPECT_FALSE(StandardUsersCanWrite(admins, true, installed));
  // Owned by Mario, it is his to open up.
  EXPECT_TRUE(StandardUsersCanWrite(mario, true, installed));

  const std::vector<AccessEntry> data_root = {// D:\ of a second disk
                                              {true, 0x3, 0x1F01FF, admins},
                                              {true, 0x3, 0x1F01FF, system},
                                              {true, 0xB, 0x1301BF, "S-1-5-11"},
                                              {true, 0x0, 0x4, "S-1-5-11"},
                                              {true, 0x3, 0x1200A9, "S-1-5-32-545"}};
  EXPECT_TRUE(StandardUsersCanWrite(system, true, data_root));  // anyone may add a folder
  const std::vector<AccessEntry> data_folder = {// D:\Programmi, made by an administrator
                                                {true, 0x13, 0x1F01FF, admins},
                                                {true, 0x13, 0x1F01FF, system},
                                                {true, 0x13, 0x1301BF, "S-1-5-11"},
                                                {true, 0x13, 0x1200A9, "S-1-5-32-545"}};
  EXPECT_TRUE(StandardUsersCanWrite(admins, true, data_folder));
  std::vector<AccessEntry> denied = data_folder;  // unless every user is denied it first
  denied.insert(denied.begin(), {false, 0x3, 0x40000000 | 0x10000 | 0xC0000, "S-1-1-0"});
  EXPECT_FALSE(StandardUsersCanWrite(admins, true, denied));

  const std::vector<AccessEntry> profile = {// C:\Users\mario
                                            {true, 0x3, 0x1F01FF, system},
                                            {true, 0x3, 0x1F01FF, admins},
                                            {true, 0x3, 0x1F01FF, mario}};
  EXPECT_TRUE(StandardUsersCanWrite(mario, true, profile));
  // The built-in Administrator's own, whose every logon is elevated.
  const std::string administrator = "S-1-5-21-1004336348-1177238915-682003330-500";
  EXPECT_FALSE(StandardUsersCanWrite(
      administrator, true, {{true, 0x3, 0x1F01FF, system}, {true, 0x3, 0x1F01FF, administrator}},
      administrator));
  EXPECT_TRUE(StandardUsersCanWrite(system, false, {}));  // a NULL DACL
}

TEST(WindowsRules, TheNightlyTaskWantsAFixedDriveOfThisPC) {
  EXPECT_EQ(NightlyDriveRefusal(kDriveFixed, L"\\Device\\HarddiskVolume2"), "");
  EXPECT_NE(NightlyDriveRefusal(kDriveFixed, L"\\??\\C:\\negozio").find("subst"),
            std::string::npos);
  EXPECT_NE(NightlyDriveRefusal(kDriveRemote, L"\\Device\\LanmanRedirector\\;D:000\\srv\\dati")
                .find("rete"),
            std::string::npos);
  EXPECT_NE(NightlyDriveRefusal(kDriveRemovable, L"\\Device\\HarddiskVolume7"), "");
  EXPECT_NE(NightlyDriveRefusal(5, L"\\Device\\CdRom0"), "");  // DRIVE_CDROM

  // The task of an earlier version, as schtasks prints it (UTF-16), to move.
  const std::string xml =
      "<StartBoundary>2026-12-08T02:30:00</StartBoundary><UserId>S-1-5-18</UserId>"
      "<Arguments>--aggiorna --unita E:</Arguments>";
  std::string wide, time, drive;
  for (char c : xml) wide += std::string{c, '\0'};
  EXPECT_TRUE(ReadNightlyTask(wide, &time, &drive));
  EXPECT_EQ(time + " " + drive, "02:30 E:");
  EXPECT_FALSE(ReadNightlyTask("ERRORE: impossibile trovare il file specificato.", &time, &drive));
}

TEST(WindowsRules, ShellItemsAndExitCodes) {
  // With extensions hidden the display name is "setup"; the path keeps it.
  EXPECT_EQ(FileNameOfPath(L"C:\\drubel\\setup.exe"), L"setup.exe");
  EXPECT_EQ(FileNameOfPath(L"setup.exe"), L"setup.exe");
  EXPECT_EQ(ExitCodeText(3), "3");
  EXPECT_EQ(ExitCodeText(0xC000013A), "0xC000013A");  // STATUS_CONTROL_C_EXIT
}

}  // namespace
}  // namespace avendro::windows
