#include "platform/file_details_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <iostream>

#include "shell/dettagli_file.h"
#include "tests/win32/win32_test_support.h"

namespace avendro {
namespace {

using testing::TempFolder;

// Sets the modification time of a file to 4 March 2021, 05:06 UTC.
void SetModified(const std::string& path) {
  SYSTEMTIME when = {};
  when.wYear = 2021;
  when.wMonth = 3;
  when.wDay = 4;
  when.wHour = 5;
  when.wMinute = 6;
  FILETIME stamp;
  SystemTimeToFileTime(&when, &stamp);
  HANDLE file =
      CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(file, nullptr, nullptr, &stamp);
  CloseHandle(file);
}

// The Wine version when the tests run under Wine, else "".
std::string WineVersion() {
  using Version = const char*(__cdecl*)();
  auto version = reinterpret_cast<Version>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
  return version != nullptr ? version() : "";
}

// The details of a real file through the shell object, as the version label
// reads them. The columns and their text are the shell's own; they are
// printed so that what the system gives can be seen in the test output.
TEST(Win32FileDetails, DetailsOfARealFileThroughTheShell) {
  TempFolder temp;
  testing::PutFile(temp / "Setup.EXE", std::string(2048, 'x'));
  testing::PutFile(temp / "altro.txt", "x");
  SetModified(temp / "Setup.EXE");

  Win32FileDetails shell;
  Dettagli details;
  Status status = DettagliFile(shell, temp.path() + "\\", "setup.exe", &details);
  const std::string wine = WineVersion();
  if (!wine.empty()) {
    // Wine's shell object opens the folder and lists its items, but its
    // Folder.GetDetailsOf answers E_NOTIMPL for headers and values alike:
    // the query fails at the first header, and the version label stays empty.
    std::cout << "  Wine " << wine << ": " << status.message() << "\n";
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.message().find("GetDetailsOf"), std::string::npos) << status.message();
    EXPECT_TRUE(details.empty());
    return;
  }
  ASSERT_TRUE(status.ok()) << status.message();
  for (size_t i = 1; i <= details.size(); ++i) {
    std::cout << "  entry " << i << ": " << details.entries()[i - 1].first << " = \""
              << *details.At(i) << "\"\n";
  }
  ASSERT_GE(details.size(), 4u);
  // The shell may hide the extension; the name comes first either way.
  EXPECT_EQ(details.At(1)->rfind("Setup", 0), 0u) << *details.At(1);
  // Entry 4 is the modification date, in the shell's format.
  EXPECT_NE(details.At(4)->find("2021"), std::string::npos) << *details.At(4);

  // Headers are read for 41 columns.
  std::vector<DetailColumn> columns;
  bool found = false;
  ASSERT_TRUE(shell.Query(temp.path(), "SETUP.exe", &columns, &found).ok());
  EXPECT_TRUE(found);
  EXPECT_EQ(columns.size(), kDetailHeaderColumns);

  // A folder without the file gives an empty answer.
  ASSERT_TRUE(DettagliFile(shell, temp.path() + "\\", "assente.exe", &details).ok());
  EXPECT_TRUE(details.empty());
}

// A folder that does not exist is an error, not an empty answer: the shell
// gives no folder object for it.
TEST(Win32FileDetails, AFolderThatDoesNotExistFails) {
  TempFolder temp;
  Win32FileDetails shell;
  Dettagli details;
  Status status = DettagliFile(shell, temp / "assente\\", "setup.exe", &details);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(temp / "assente\\: la cartella non si può aprire"),
            std::string::npos)
      << status.message();
  EXPECT_TRUE(details.empty());
}

}  // namespace
}  // namespace avendro
