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
  const AccessEntry deny{true, kSynchronize | kFileListDirectory}, everyone{false, 0x001200A9};
  const AccessEntry full{false, 0x001F01FF};
  for (const std::vector<AccessEntry>& caller :
       {std::vector{deny, everyone}, std::vector{deny, everyone, full, full}}) {
    EXPECT_TRUE(AccessGranted(kLinkQueryAccess, caller));
    EXPECT_FALSE(AccessGranted(kLinkQueryAccess | kSynchronize, caller));
    EXPECT_FALSE(AccessGranted(kFileListDirectory | kFileReadAttributes, caller));
  }
  EXPECT_FALSE(AccessGranted(kLinkQueryAccess, std::vector{AccessEntry{false, kReadControl}}));
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

TEST(WindowsRules, AStandardUserRefusedAccessIsToldToStartAsAdministrator) {
  EXPECT_TRUE(NeedsAdministrator(5, false));
  EXPECT_TRUE(NeedsAdministrator(740, false));  // ERROR_ELEVATION_REQUIRED
  EXPECT_FALSE(NeedsAdministrator(5, true));    // an administrator is refused for another reason
  for (uint32_t other : {2u, 32u, 1223u}) EXPECT_FALSE(NeedsAdministrator(other, false));

  // The one-window mutex of an elevated Avendro refuses a standard user.
  EXPECT_TRUE(MutexTakenByAnother(true, 183));
  EXPECT_TRUE(MutexTakenByAnother(false, 5));
  EXPECT_FALSE(MutexTakenByAnother(true, 0));
  EXPECT_FALSE(MutexTakenByAnother(false, 1450));  // ERROR_NO_SYSTEM_RESOURCES
  // The job of a night's script, made by SYSTEM, exists for a standard user too.
  EXPECT_TRUE(ScriptJobRunning(false, 5));
  EXPECT_FALSE(ScriptJobRunning(false, 2));  // ERROR_FILE_NOT_FOUND
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
