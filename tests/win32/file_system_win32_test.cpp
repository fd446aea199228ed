#include "platform/file_system_win32.h"
#include "platform/launcher_win32.h"
#include "platform/token_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "checks/controllo_prog_disk.h"
#include "shell/status_log.h"
#include "tests/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace avendro {
namespace {

using testing::ReadWholeFile;
using testing::TempFolder;

// The directory-entry query with both masks, for one entry.
struct Answers {
  std::string normal, directory;
};

Answers Query(FileSystem& files, const std::string& path) {
  Answers a;
  EXPECT_TRUE(files.FindEntry(path, kMaskNormal, &a.normal).ok()) << path;
  EXPECT_TRUE(files.FindEntry(path, kMaskDirectory, &a.directory).ok()) << path;
  return a;
}

TEST(Win32FileSystem, MasksOfTheDirectoryEntryQuery) {
  TempFolder temp;
  Win32FileSystem files;
  testing::PutFile(temp / "rar.exe", "x");
  testing::PutFile(temp / "nascosto.exe", "x");
  testing::PutFile(temp / "sistema.exe", "x");
  testing::PutFile(temp / "sola.lettura", "x");
  CreateDirectoryA((temp / "cartella").c_str(), nullptr);
  CreateDirectoryA((temp / "cartella.nascosta").c_str(), nullptr);
  ASSERT_TRUE(SetFileAttributesA((temp / "nascosto.exe").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA((temp / "sistema.exe").c_str(), FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA((temp / "sola.lettura").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA((temp / "cartella.nascosta").c_str(),
                                 FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));

  Answers normal = Query(files, temp / "rar.exe");
  EXPECT_EQ(normal.normal, "rar.exe");
  EXPECT_EQ(normal.directory, "rar.exe");
  // Windows matches names without regard to case and answers with the
  // entry's own name.
  EXPECT_EQ(Query(files, temp / "RAR.EXE").normal, "rar.exe");
  EXPECT_EQ(Query(files, temp / "sola.lettura").normal, "sola.lettura");

  Answers folder = Query(files, temp / "cartella");
  EXPECT_EQ(folder.normal, "");
  EXPECT_EQ(folder.directory, "cartella");

  for (const char* never :
       {"nascosto.exe", "sistema.exe", "cartella.nascosta", "assente.exe", "assente\\rar.exe"}) {
    Answers a = Query(files, temp / never);
    EXPECT_EQ(a.normal, "") << never;
    EXPECT_EQ(a.directory, "") << never;
  }
}

TEST(Win32FileSystem, QueryOnADriveThatIsNotThereFails) {
  Win32FileSystem files;
  DWORD used = GetLogicalDrives();
  char missing = 0;
  for (char c = 'Y'; c >= 'H' && missing == 0; --c) {
    if ((used & (1u << (c - 'A'))) == 0) missing = c;
  }
  if (missing == 0) GTEST_SKIP() << "every drive letter is in use";
  std::string name = "?";
  std::string path = std::string(1, missing) + ":\\drubel";
  Status status = files.FindEntry(path, kMaskDirectory, &name);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(path), std::string::npos) << status.message();
  EXPECT_EQ(name, "");
}

TEST(Win32FileSystem, CreateFolderAndWriteFile) {
  TempFolder temp;
  Win32FileSystem files;
  const std::string folder = temp / "drubel";
  ASSERT_TRUE(files.CreateFolder(folder).ok());
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  Status again = files.CreateFolder(folder);
  EXPECT_FALSE(again.ok());
  EXPECT_NE(again.message().find(folder), std::string::npos) << again.message();
  EXPECT_FALSE(files.CreateFolder(temp / "assente\\drubel").ok());

  // A script left from an earlier run is emptied, never appended to.
  const std::string script = folder + "\\aggiorna.bat";
  ASSERT_TRUE(files.WriteFile(script, "una riga molto piu' lunga\r\ne un'altra\r\n").ok());
  ASSERT_TRUE(files.WriteFile(script, "cd x\r\n").ok());
  EXPECT_EQ(ReadWholeFile(script), "cd x\r\n");
  Status missing = files.WriteFile(temp / "assente\\aggiorna.bat", "x");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("assente\\aggiorna.bat"), std::string::npos);
  // Refused access asks for the folder's rights, never for an elevated Avendro.
  ASSERT_TRUE(files.CreateFolder(folder + "\\cartella.bat").ok());
  EXPECT_EQ(files.WriteFile(folder + "\\cartella.bat", "x").message(),
            folder +
                "\\cartella.bat: accesso negato; chiedere all'amministratore del PC di dare "
                "agli utenti i permessi sulla cartella " +
                folder);
}

// Names travel as UTF-8 both ways: an accented name the program writes is
// the name on disk, the query answers with the same bytes, and they reach
// the log and the error messages unchanged.
TEST(Win32FileSystem, AccentedNamesTravelAsUtf8) {
  TempFolder temp;
  Win32FileSystem files;
  // Made and checked through the wide calls, with no code page in between
  // (the temporary folder's path is ASCII).
  const std::wstring wide_folder =
      std::wstring(temp.path().begin(), temp.path().end()) + L"\\perch\u00E9";
  const std::wstring wide_exe = wide_folder + L"\\caff\u00E8.exe";
  if (!CreateDirectoryW(wide_folder.c_str(), nullptr)) {
    // As under Wine when the Unix locale is not a UTF-8 one (LANG unset, C).
    DWORD error = GetLastError();
    GTEST_SKIP() << "the system cannot hold an accented file name (error " << error << ")";
  }
  const std::string folder = temp / "perch\xC3\xA9";  // "perché"
  const std::string exe = "caff\xC3\xA8.exe";         // "caffè.exe"
  ASSERT_TRUE(files.WriteFile(folder + "\\" + exe, "x").ok());
  EXPECT_NE(GetFileAttributesW(wide_exe.c_str()), INVALID_FILE_ATTRIBUTES);

  std::string name;
  ASSERT_TRUE(files.FindEntry(folder + "\\" + exe, kMaskNormal, &name).ok());
  EXPECT_EQ(name, exe);
  StatusLog log;
  EXPECT_EQ(log.Append(name), "- " + exe);
  ASSERT_TRUE(files.FindEntry(folder, kMaskDirectory, &name).ok());
  EXPECT_EQ(name, "perch\xC3\xA9");
  // The Latin-1 bytes of the same name are not UTF-8: refused, not guessed at.
  EXPECT_FALSE(files.FindEntry(folder + "\\caff\xE8.exe", kMaskNormal, &name).ok());
  EXPECT_EQ(name, "");

  const std::string missing = temp / "gi\xC3\xB9\\drubel";  // "giù"
  Status error = files.CreateFolder(missing);
  EXPECT_FALSE(error.ok());
  EXPECT_NE(error.message().find(missing + ": "), std::string::npos) << error.message();

  // TempFolder removes what it holds through the ANSI calls.
  DeleteFileW(wide_exe.c_str());
  RemoveDirectoryW(wide_folder.c_str());
}

TEST(Win32FileSystem, CurrentDriveIsTheLetterOfTheCurrentFolder) {
  TempFolder temp;
  Win32FileSystem files;
  char before[MAX_PATH];
  GetCurrentDirectoryA(sizeof before, before);
  ASSERT_TRUE(SetCurrentDirectoryA(temp.path().c_str()));
  char letter = 0;
  Status status = files.CurrentDrive(kWorkFolder, &letter);
  SetCurrentDirectoryA(before);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(letter, std::tolower(static_cast<unsigned char>(temp.path()[0])));
}

// The installed-product scan on a drive of its own: the work folder is made,
// and only a normal file counts as an installed program.
TEST(Win32FileSystem, InstalledProductScanOnAScratchDrive) {
  testing::ScratchDrive drive;
  if (drive.letter() == 0) {
    ASSERT_FALSE(drive.promised()) << drive.why();
    GTEST_SKIP() << drive.why();
  }
  Win32FileSystem files;
  testing::RecordingWindow window;
  ControlloProgDisk(window, files, drive.letter());
  EXPECT_NE(GetFileAttributesA(drive.Path("drubel").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(window.lines.empty());

  // One Avendro per drive, through a lock file in \drubel; free again once let go.
  std::unique_ptr<DriveLock> first, second_lock;
  ASSERT_TRUE(files.LockDrive(drive.letter(), kWorkFolder, &first).ok());
  EXPECT_NE(files.LockDrive(drive.letter(), kWorkFolder, &second_lock).message().find("già aperto"),
            std::string::npos);
  first.reset();
  EXPECT_TRUE(files.LockDrive(drive.letter(), kWorkFolder, &second_lock).ok());

  // Slot 1 installed; slot 5's executable hidden; slot 3's name a folder.
  const Product& one = Row(1);
  const Product& five = Row(5);
  const Product& three = Row(3);
  auto path = [&](const Product& row) { return OnDrive(drive.letter(), row.diskPath); };
  testing::MakeFolders(path(one).substr(0, path(one).find_last_of('\\')));
  testing::PutFile(path(one), "x");
  testing::MakeFolders(path(five).substr(0, path(five).find_last_of('\\')));
  testing::PutFile(path(five), "x");
  SetFileAttributesA(path(five).c_str(), FILE_ATTRIBUTE_HIDDEN);
  testing::MakeFolders(path(three));

  testing::RecordingWindow second;
  ControlloProgDisk(second, files, drive.letter());
  EXPECT_EQ(second.lines, std::vector<std::string>{std::string(one.diskMessage)});
  EXPECT_EQ(second.marked, std::vector<int>{1});
}

// A scanner opens a new file the moment it is written; replacing it then
// fails for that moment, and is tried again.
TEST(Win32FileSystem, AFileHeldForASecondIsReplacedAfterTheRetry) {
  TempFolder temp;
  const std::string target = temp / "aggiorna.bat";
  testing::PutFile(target, "vecchio");
  const std::string scanner = temp / "scanner.exe";
  testing::CopyHelper(scanner);
  testing::StartedProcess holder(scanner, "tieni \"" + target + "\" 1000");
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(testing::WaitForFile(scanner + ".avvio", 10000));
  Status status = Win32FileSystem().WriteFile(target, "nuovo");
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(ReadWholeFile(target), "nuovo");
}

// The test runner plants d:\collegamento, a link to a folder outside the
// drive that holds "secret". Wine shows a link to a folder as a reparse
// point (and would move what it leads to, not the link, so it stays put).
TEST(Win32FileSystem, NothingIsWrittenThroughAFolderLink) {
  testing::ScratchDrive drive;
  if (drive.letter() == 0) {
    ASSERT_FALSE(drive.promised()) << drive.why();
    GTEST_SKIP() << drive.why();
  }
  const std::string folder = drive.Path("collegamento");
  if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no link planted at " << folder;
  }
  const std::string secret = ReadWholeFile(folder + "\\secret");
  Win32FileSystem files;
  std::unique_ptr<PartialFile> partial;
  std::vector<FolderEntry> entries;
  const std::string refused =
      folder +
      ": è un collegamento a un altro percorso; Avendro non scrive attraverso i "
      "collegamenti";
  EXPECT_EQ(files.WriteFile(folder + "\\aggiorna.bat", "x").message(), refused);
  EXPECT_EQ(files.CreateFolder(folder + "\\sub").message(), refused);
  EXPECT_EQ(files.CreateFolder(folder).message(), refused);
  EXPECT_EQ(files.RemoveFile(folder + "\\secret").message(), refused);
  EXPECT_EQ(files.ListFolder(folder, &entries).message(), refused);
  EXPECT_EQ(files.OpenPartial(folder + "\\x.part", folder + "\\dunmar.rar", &partial).message(),
            refused);
  EXPECT_EQ(ReadWholeFile(folder + "\\secret"), secret);
  EXPECT_FALSE(secret.empty());
  // An elevated Avendro (under Wine always) starts nothing through it.
  uint64_t task = 0;
  if (RunningElevated()) {
    EXPECT_NE(Win32Launcher(kWorkFolder)
                  .Start(folder + "\\secret", WindowStyle::kMinimizedFocus, &task)
                  .message()
                  .find(folder + " è un collegamento che un utente può aver creato"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace avendro
