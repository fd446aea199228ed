#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/file_system_posix.h"
#include "tests/test_support.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

// Runs a block with the process's current directory set to `dir`.
class InDirectory {
 public:
  explicit InDirectory(const fs::path& dir) : saved_(fs::current_path()) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

TEST(DriveMap, MissingPrefixOrDevicesFolderIsNamed) {
  TempPrefix t;
  DriveMap map;
  Status s = DriveMap::Load((t.root() / "nowhere").string(), &map);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find((t.root() / "nowhere").string()), std::string::npos);

  fs::create_directories(t.root() / "bare");
  s = DriveMap::Load((t.root() / "bare").string(), &map);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("bare/dosdevices"), std::string::npos);
  EXPECT_FALSE(fs::exists(t.root() / "nowhere"));  // nothing is created
}

TEST(DriveMap, CurrentDriveIsTheLongestMatch) {
  TempPrefix t;
  // e: is a folder inside d:; z: is the whole machine, as Wine makes it.
  fs::create_directories(t.Drive('d') / "shop" / "till");
  fs::create_directory_symlink(t.Drive('d') / "shop", t.prefix() / "dosdevices" / "e:");
  fs::create_directory_symlink("/", t.prefix() / "dosdevices" / "z:");
  fs::create_directory_symlink("/nonexistent-avendro", t.prefix() / "dosdevices" / "y:");
  PosixFileSystem files(t.Drives());
  char letter = 0;
  {
    InDirectory in(t.Drive('d'));
    ASSERT_TRUE(files.CurrentDrive(kWorkFolder, &letter).ok());
    EXPECT_EQ(letter, 'd');
  }
  {
    InDirectory in(t.Drive('d') / "shop" / "till");
    ASSERT_TRUE(files.CurrentDrive(kWorkFolder, &letter).ok());
    EXPECT_EQ(letter, 'e');
  }
  {
    // Only z: holds it, and z: is no work drive.
    InDirectory in(t.root());
    Status s = files.CurrentDrive(kWorkFolder, &letter);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("sull'unità Z:"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("(per esempio D:\\drubel): la cartella"), std::string::npos);
  }
  EXPECT_EQ(files.drives().Root('Y'), "");  // a dangling link is no drive
}

TEST(DriveMap, NoDriveHoldsTheCurrentDirectory) {
  TempPrefix t;
  PosixFileSystem files(t.Drives());
  InDirectory in(t.root());
  char letter = 0;
  Status s = files.CurrentDrive(kWorkFolder, &letter);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find(t.root().string()), std::string::npos);
}

TEST(WindowsPath, FoldersMatchWithoutRegardToCase) {
  TempPrefix t;
  t.Put('d', "MORVA/morva.exe");
  PosixFileSystem files(t.Drives());
  std::string native;
  ASSERT_TRUE(files.NativePath("D:\\morva\\aggiorna.bat", &native).ok());
  EXPECT_EQ(native, (t.Drive('d') / "MORVA" / "aggiorna.bat").string());
  ASSERT_TRUE(files.NativePath("d:\\Morva\\MORVA.EXE", &native).ok());
  EXPECT_EQ(native, (t.Drive('d') / "MORVA" / "morva.exe").string());
  // A folder that does not exist keeps the case given, and so does all below it.
  ASSERT_TRUE(files.NativePath("d:\\New\\Sub\\x.TXT", &native).ok());
  EXPECT_EQ(native, (t.Drive('d') / "New" / "Sub" / "x.TXT").string());
}

TEST(WindowsPath, TrailingBlanksAndDotsOfTheLastComponentDrop) {
  TempPrefix t;
  fs::create_directories(t.Drive('c') / "drubel");
  PosixFileSystem files(t.Drives());
  std::string native;
  ASSERT_TRUE(files.NativePath("C:\\drubel\\tamrel.rar ", &native).ok());
  EXPECT_EQ(native, (t.Drive('c') / "drubel" / "tamrel.rar").string());
  ASSERT_TRUE(files.NativePath("C:\\drubel\\tamrel.rar. . ", &native).ok());
  EXPECT_EQ(native, (t.Drive('c') / "drubel" / "tamrel.rar").string());
  ASSERT_TRUE(files.NativePath("C:\\DRUBEL\\..\\drubel\\.\\x", &native).ok());
  EXPECT_EQ(native, (t.Drive('c') / "drubel" / "x").string());
  ASSERT_TRUE(files.WriteFile("C:\\drubel\\tamrel.rar ", "abc").ok());
  EXPECT_EQ(testing::ReadFile(t.Drive('c') / "drubel" / "tamrel.rar"), "abc");
}

// Links planted on the shared drive, pointing at files and folders that
// are not the drive's: nothing is created, written, moved or removed
// through them, and the failure names the link.
TEST(WindowsPath, NothingIsWrittenThroughALink) {
  TempPrefix t;
  const fs::path outside = t.root() / "outside";
  fs::create_directories(outside);
  std::ofstream(outside / "secret") << "root only";
  fs::create_directory_symlink(outside, t.Drive('d') / "dunmar");  // a program folder
  t.Put('d', "drubel/rar.exe");
  fs::create_symlink(outside / "secret", t.Drive('d') / "drubel" / "aggiorna.bat");
  fs::create_symlink(outside / "new", t.Drive('d') / "drubel" / "Drubel2.rar");
  fs::create_symlink(outside / "made", t.Drive('d') / "vemo");  // to nowhere
  PosixFileSystem files(t.Drives());
  std::unique_ptr<PartialFile> partial;
  std::vector<FolderEntry> entries;
  const std::string refusal =
      ": è un collegamento a un altro percorso; Avendro non scrive "
      "attraverso i collegamenti";
  EXPECT_EQ(files.WriteFile("D:\\Dunmar\\aggiorna.bat", "x").message(), "D:\\dunmar" + refusal);
  EXPECT_EQ(files.CreateFolder("d:\\dunmar\\sub").message(), "d:\\dunmar" + refusal);
  EXPECT_EQ(files.RemoveFile("d:\\dunmar\\secret").message(), "d:\\dunmar" + refusal);
  EXPECT_EQ(files.ListFolder("d:\\dunmar", &entries).message(), "d:\\dunmar" + refusal);
  EXPECT_EQ(files.OpenPartial("d:\\dunmar\\x.part", "d:\\dunmar\\dunmar.rar", &partial).message(),
            "d:\\dunmar" + refusal);
  EXPECT_EQ(files.WriteFile("d:\\drubel\\AGGIORNA.BAT", "x").message(),
            "d:\\drubel\\aggiorna.bat" + refusal);
  EXPECT_EQ(files.OpenPartial("d:\\drubel\\x.part", "d:\\drubel\\Drubel2.rar", &partial).message(),
            "d:\\drubel\\Drubel2.rar" + refusal);
  EXPECT_EQ(files.CreateFolder("d:\\vemo").message(), "d:\\vemo" + refusal);
  EXPECT_EQ(testing::ReadFile(outside / "secret"), "root only");
  EXPECT_FALSE(fs::exists(outside / "new") || fs::exists(outside / "made"));
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);

  // Through the drive's own link, a plain file is replaced whole and leaves
  // nothing else behind; a folder in its place is not replaced.
  ASSERT_TRUE(files.WriteFile("d:\\drubel\\fr.bat", "una riga lunga\r\n").ok());
  ASSERT_TRUE(files.WriteFile("d:\\drubel\\fr.bat", "cd\r\n").ok());
  EXPECT_EQ(testing::ReadFile(t.Drive('d') / "drubel" / "fr.bat"), "cd\r\n");
  ASSERT_TRUE(files.ListFolder("d:\\drubel", &entries).ok());
  EXPECT_EQ(entries.size(), 4u);
  fs::create_directories(t.Drive('d') / "drubel" / "sub");
  EXPECT_FALSE(files.WriteFile("d:\\drubel\\sub", "x").ok());
  EXPECT_TRUE(fs::is_directory(t.Drive('d') / "drubel" / "sub"));
}

// A file of ours that cannot be opened for writing (here one that runs; a
// read-only one as a user) is kept whole, with the reason: it may be a
// log's whole history.
TEST(WindowsPath, AFileThatCannotBeOpenedIsKept) {
  TempPrefix t;
  const fs::path log = t.Drive('d') / "drubel" / "avendro.log";
  fs::create_directories(log.parent_path());
  fs::copy_file("/bin/sleep", log);
  const pid_t pid = fork();
  if (pid == 0) execl(log.c_str(), "sleep", "30", nullptr), _exit(127);
  while (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe") != log) usleep(1000);
  std::unique_ptr<PartialFile> partial;
  PosixFileSystem files(t.Drives());
  Status s = files.OpenPartial("d:\\drubel\\avendro.log", "d:\\drubel\\avendro.log.1", &partial);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(s.message(), "d:\\drubel\\avendro.log.1: Text file busy");
  EXPECT_EQ(fs::file_size(log), fs::file_size("/bin/sleep"));
}

TEST(WindowsPath, UnmappedDriveIsNotReady) {
  TempPrefix t;
  PosixFileSystem files(t.Drives());
  std::string name;
  Status s = files.FindEntry("q:\\drubel", kMaskDirectory, &name);
  EXPECT_EQ(s.message(), "q:\\drubel: unità q: non pronta");
  EXPECT_FALSE(files.NativePath("drubel\\x", &name).ok());
}

TEST(FindEntry, MasksAndHiddenEntries) {
  TempPrefix t;
  t.Put('d', "drubel/rar.exe");
  t.Put('d', "drubel/.hidden.exe");
  fs::create_directories(t.Drive('d') / "drubel" / "sub");
  fs::create_directories(t.Drive('d') / ".secret");
  PosixFileSystem files(t.Drives());
  std::string name;
  auto find = [&](const std::string& path, int mask) {
    EXPECT_TRUE(files.FindEntry(path, mask, &name).ok()) << path;
    return name;
  };
  EXPECT_EQ(find("d:\\DRUBEL\\RAR.EXE", kMaskNormal), "rar.exe");
  EXPECT_EQ(find("d:\\drubel\\rar.exe", kMaskDirectory), "rar.exe");
  EXPECT_EQ(find("d:\\drubel\\sub", kMaskNormal), "");
  EXPECT_EQ(find("d:\\drubel\\sub", kMaskDirectory), "sub");
  EXPECT_EQ(find("d:\\drubel\\.hidden.exe", kMaskNormal), "");
  EXPECT_EQ(find("d:\\.secret", kMaskDirectory), "");
  EXPECT_EQ(find("d:\\missing\\x.exe", kMaskNormal), "");
  EXPECT_EQ(find("d:\\drubel\\rar.exe\\x", kMaskNormal), "");
}

TEST(FindEntry, UnreadableFolderIsAnError) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  TempPrefix t;
  t.Put('d', "locked/x.exe");
  fs::permissions(t.Drive('d') / "locked", fs::perms::none);
  PosixFileSystem files(t.Drives());
  std::string name;
  Status s = files.FindEntry("d:\\locked\\x.exe", kMaskNormal, &name);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("d:\\locked\\x.exe"), std::string::npos);
}

}  // namespace
}  // namespace avendro
