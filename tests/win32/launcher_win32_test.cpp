#include "platform/launcher_win32.h"
#include "platform/text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue/catalogue.h"
#include "platform/file_system_win32.h"
#include "tests/win32/win32_test_support.h"
#include "update/update_script.h"

namespace avendro {
namespace {

using testing::ReadWholeFile;
using testing::TempFolder;
using testing::WaitForFile;

bool EndsWithin(Launcher& launcher, uint64_t task, int ms) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (!launcher.Running(task)) return true;
    Sleep(20);
  }
  return !launcher.Running(task);
}

// Runs a function with the current folder set to `folder`, as the program
// runs with its work drive current.
class InFolder {
 public:
  explicit InFolder(const std::string& folder) {
    GetCurrentDirectoryA(sizeof before_, before_);
    SetCurrentDirectoryA(folder.c_str());
  }
  ~InFolder() { SetCurrentDirectoryA(before_); }

 private:
  char before_[MAX_PATH];
};

TEST(Win32Launcher, StartsWithTheWindowStyleAndDoesNotWait) {
  TempFolder temp;
  Win32Launcher launcher(kWorkFolder);
  for (WindowStyle style : {WindowStyle::kMaximizedFocus, WindowStyle::kMinimizedFocus}) {
    const int show = static_cast<int>(style);
    const std::string program = temp / ("programma" + std::to_string(show) + ".exe");
    testing::CopyHelper(program);
    uint64_t task = 0;
    Status status = launcher.Start(program, style, &task);
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_NE(task, 0u);
    // Start has returned while the program waits for its end file.
    ASSERT_TRUE(WaitForFile(program + ".avvio", 10000));
    EXPECT_TRUE(launcher.Running(task));
    EXPECT_EQ(ReadWholeFile(program + ".avvio").substr(0, 20),
              "show=" + std::to_string(show) + " usestartup=1 ");

    testing::PutFile(program + ".fine", "");
    EXPECT_TRUE(EndsWithin(launcher, task, 10000));
    EXPECT_FALSE(launcher.Running(task));
  }
}

TEST(Win32Launcher, StartFailsForAMissingProgram) {
  TempFolder temp;
  Win32Launcher launcher(kWorkFolder);
  uint64_t task = 0;
  Status status = launcher.Start(temp / "wrar361it.exe", WindowStyle::kMinimizedFocus, &task);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(temp / "wrar361it.exe"), std::string::npos) << status.message();
  EXPECT_FALSE(launcher.Running(12345));
}

// The scripts run by the system's cmd.exe on a work drive of their own. A
// rar.bat in the work folder stands in for the RAR tool: cmd finds it for
// "rar" by its extension, and it records its arguments and the folder it
// ran in.
class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (drive_.letter() == 0) {
      ASSERT_FALSE(drive_.promised()) << drive_.why();
      GTEST_SKIP() << drive_.why();
    }
    testing::MakeFolders(On(":\\drubel"));
    testing::MakeFolders(On(":\\dunmar"));
    testing::PutFile(
        On(":\\drubel\\rar.bat"),
        "@echo %*> " + On(":\\drubel\\rar.txt") + "\r\n@cd>> " + On(":\\drubel\\rar.txt") + "\r\n");
  }

  std::string On(const std::string& tail) const { return std::string(1, drive_.letter()) + tail; }

  // Writes the script as the program does and starts it maximised from the
  // system's folder, as the Task Scheduler does; waits for cmd to finish it.
  void WriteAndRun(const std::string& path, const std::string& bytes) {
    Win32FileSystem files;
    ASSERT_TRUE(files.WriteFile(path, bytes).ok());
    ASSERT_EQ(ReadWholeFile(path), bytes);
    Win32Launcher launcher(kWorkFolder);
    uint64_t task = 0;
    {
      InFolder elsewhere("C:\\windows\\system32");
      Status status = launcher.Start(path, WindowStyle::kMaximizedFocus, &task);
      ASSERT_TRUE(status.ok()) << status.message();
    }
    ASSERT_TRUE(EndsWithin(launcher, task, 30000)) << path << " still runs";
  }

  testing::ScratchDrive drive_;
};

TEST_F(ScriptTest, UpdateScriptOfSlot5RunsTheRarLine) {
  const std::string archive = On(std::string(Row(5).updateLocalPath));
  const std::string script = UpdateScript(5, drive_.letter(), archive);
  ASSERT_EQ(script, "cd " + On(":\\drubel") + "\r\n" + On(":\\drubel\\rar e -o+ ") +
                        On(":\\dunmar\\dunmar.rar ") + "\r\n");
  WriteAndRun(On(std::string(Row(5).updateScriptPath)), script);
  // The blank that closes the archive path reaches the tool.
  EXPECT_EQ(ReadWholeFile(On(":\\drubel\\rar.txt")),
            "e -o+ " + On(":\\dunmar\\dunmar.rar ") + "\r\n" + On(":\\drubel") + "\r\n");
}

// A batch stand-in would not come back to the script (cmd hands a script
// over to a called one), so here a program stands in for the RAR tool.
TEST_F(ScriptTest, InstallScriptUnpacksThenStartsSetupInTheWorkFolder) {
  DeleteFileA(On(":\\drubel\\rar.bat").c_str());
  for (const char* program : {"rar.exe", "setup.exe"}) {
    const std::string path = On(":\\drubel\\") + program;
    testing::CopyHelper(path);
    testing::PutFile(path + ".fine", "");  // it ends as soon as it has reported
  }
  const std::string script =
      InstallScript(drive_.letter(), On(std::string(Row(0).installLocalPath)));
  ASSERT_EQ(script, "cd " + On(":\\drubel") + "\r\n" + On(":\\drubel\\rar e -o+ ") +
                        On(":\\drubel\\varnok_inst.rar") + "\r\nsetup.exe\r\n");
  WriteAndRun(On(":\\drubel\\aggiorna.bat"), script);

  const std::string rar = Lower(ReadWholeFile(On(":\\drubel\\rar.exe.avvio")));
  EXPECT_NE(rar.find(Lower("folder=" + On(":\\drubel\r\n"))), std::string::npos) << rar;
  EXPECT_NE(rar.find(Lower(" e -o+ " + On(":\\drubel\\varnok_inst.rar") + "\r\n")),
            std::string::npos)
      << rar;
  const std::string setup = Lower(ReadWholeFile(On(":\\drubel\\setup.exe.avvio")));
  EXPECT_NE(setup.find(Lower("folder=" + On(":\\drubel\r\n"))), std::string::npos) << setup;
}

// What keeps a shared script from being rewritten under a running cmd: the
// task runs until the script's last line has ended.
TEST_F(ScriptTest, AScriptRunsUntilItsRarLineEnds) {
  DeleteFileA(On(":\\drubel\\rar.bat").c_str());
  const std::string rar = On(":\\drubel\\rar.exe");
  testing::CopyHelper(rar);
  const std::string script = On(":\\drubel\\aggiorna.bat");
  Win32FileSystem files;
  ASSERT_TRUE(files
                  .WriteFile(script, "cd " + On(":\\drubel") + "\r\n" +
                                         On(":\\drubel\\rar e -o+ ") +
                                         On(":\\drubel\\Drubel2.rar") + "\r\n")
                  .ok());
  Win32Launcher launcher(kWorkFolder);
  uint64_t task = 0;
  {
    InFolder work_drive(On(":\\"));
    ASSERT_TRUE(launcher.Start(script, WindowStyle::kMaximizedFocus, &task).ok());
  }
  ASSERT_TRUE(WaitForFile(rar + ".avvio", 10000));
  Sleep(200);
  EXPECT_TRUE(launcher.Running(task));
  testing::PutFile(rar + ".fine", "");
  EXPECT_TRUE(EndsWithin(launcher, task, 10000));
}

}  // namespace
}  // namespace avendro
