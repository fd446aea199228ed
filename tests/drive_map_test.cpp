#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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
    ASSERT_TRUE(files.CurrentDrive(&letter).ok());
    EXPECT_EQ(letter, 'd');
  }
  {
    InDirectory in(t.Drive('d') / "shop" / "till");
    ASSERT_TRUE(files.CurrentDrive(&letter).ok());
    EXPECT_EQ(letter, 'e');
  }
  {
    // Only z: holds it, and z: is no work drive.
    InDirectory in(t.root());
    Status s = files.CurrentDrive(&letter);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("sull'unità Z:"), std::string::npos) << s.message();
  }
  EXPECT_EQ(files.drives().Root('Y'), "");  // a dangling link is no drive
}

TEST(DriveMap, NoDriveHoldsTheCurrentDirectory) {
  TempPrefix t;
  PosixFileSystem files(t.Drives());
  InDirectory in(t.root());
  char letter = 0;
  Status s = files.CurrentDrive(&letter);
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
