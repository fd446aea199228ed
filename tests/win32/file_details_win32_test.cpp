#include "platform/file_details_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <iostream>

#include "app/dettagli_file.h"
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

// The details of a real file through the shell object, as the version label
// reads them. The columns and their text are the shell's own: they are
// printed so that what the system gives can be seen in the test output.
TEST(Win32FileDetails, DetailsOfARealFileThroughTheShell) {
  TempFolder temp;
  testing::PutFile(temp / "Setup.EXE", std::string(2048, 'x'));
  testing::PutFile(temp / "altro.txt", "x");
  SetModified(temp / "Setup.EXE");

  Win32FileDetails shell;
  Dettagli details;
  Status status = DettagliFile(shell, temp.path() + "\\", "setup.exe", &details);
  ASSERT_TRUE(status.ok()) << status.message();
  for (size_t i = 1; i <= details.size(); ++i) {
    std::cout << "  entry " << i << ": " << details.entries()[i - 1].first << " = \""
              << *details.At(i) << "\"\n";
  }
  ASSERT_GE(details.size(), 4u);
  EXPECT_EQ(*details.At(1), "Setup.EXE");
  // Entry 4 is the modification date, in the shell's format.
  EXPECT_NE(details.At(4)->find("2021"), std::string::npos) << *details.At(4);

  // The headers come from the folder's item collection, 41 of them.
  std::vector<DetailColumn> columns;
  bool found = false;
  ASSERT_TRUE(shell.Query(temp.path(), "SETUP.exe", &columns, &found).ok());
  EXPECT_TRUE(found);
  EXPECT_EQ(columns.size(), kDetailHeaderColumns);
  EXPECT_EQ(columns[0].second, "Setup.EXE");
}

TEST(Win32FileDetails, NoSuchFileAndNoSuchFolder) {
  TempFolder temp;
  testing::PutFile(temp / "altro.exe", "x");
  Win32FileDetails shell;
  Dettagli details;
  ASSERT_TRUE(DettagliFile(shell, temp.path() + "\\", "setup.exe", &details).ok());
  EXPECT_TRUE(details.empty());

  // A folder that does not exist is an error, not an empty answer.
  Status status = DettagliFile(shell, temp / "assente\\", "setup.exe", &details);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(temp / "assente\\"), std::string::npos) << status.message();
}

}  // namespace
}  // namespace avendro
