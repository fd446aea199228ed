#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <vector>

#include "tests/win32/win32_test_support.h"

namespace {

// The version record and icon that app/avendro.rc gives the program, read
// from a program built with it.
TEST(VersionRecord, NamesAndVersionsOfTheProgram) {
  const std::string program = avendro::testing::ProgramFolder() + "\\avendro_resources.exe";
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(program.c_str(), &ignored);
  ASSERT_GT(size, 0u) << program;
  std::vector<char> record(size);
  ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, size, record.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000005u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000005u);

  struct Translation {
    WORD language, code_page;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(record.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, sizeof *translation);
  char block[64];
  std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation->language,
                translation->code_page);
  auto text = [&](const char* name) {
    char* value = nullptr;
    UINT chars = 0;
    std::string key = std::string(block) + name;
    if (!VerQueryValueA(record.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars)) {
      return std::string("<none>");
    }
    return std::string(value);
  };
  EXPECT_EQ(text("ProductName"), "Avendro");
  EXPECT_EQ(text("InternalName"), "Avendro");
  EXPECT_EQ(text("OriginalFilename"), "Avendro.exe");
  EXPECT_EQ(text("FileVersion"), "1.00.0005");
  EXPECT_EQ(text("ProductVersion"), "1.00.0005");

  HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceA(module, "IDI_ICON1", MAKEINTRESOURCEA(14)), nullptr)  // RT_GROUP_ICON
      << "no window icon";
  FreeLibrary(module);
}

}  // namespace
