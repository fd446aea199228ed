#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "tests/update_fixture.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ReadFile;
using testing::TempPrefix;
using testing::TestFtpServer;

std::string Bytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  return bytes;
}

// Files in `folder` other than `keep`: leftovers of a download.
std::vector<std::string> Others(const fs::path& folder, const std::string& keep) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != keep) names.push_back(entry.path().filename().string());
  }
  return names;
}

struct Session {
  explicit Session(const TestFtpServer::Faults& faults = {})
      : server(faults), files(testing::SystemFileSystem(t)) {
    ftp.SetTimeLimits(3s, 2s);
    ftp.SetHost(server.host());
    ftp.SetAccount(TestFtpServer::kUser);
    ftp.SetPassword(TestFtpServer::kPassword);
  }
  int32_t Login() {
    if (ftp.Connect() == 0) return 0;
    return ftp.ChangeFolder(std::string(TestFtpServer::kSite) + "/download");
  }
  TempPrefix t;
  TestFtpServer server;
  std::unique_ptr<FileSystem> files;
  Ftp ftp{*files};
};

TEST(Ftp, DownloadFollowsWindowsPathRulesAndReplacesTheOldFile) {
  Session s;
  const std::string archive = Bytes(3 * 1024 * 1024 + 17, 1);
  s.server.Put("dunmar.rar", archive);
  s.t.Put('d', "Dunmar/dunmar.rar", "old archive");
  int ticks = 0;
  s.ftp.SetKeepAlive([&] { ++ticks; }, 0ms);

  ASSERT_NE(s.Login(), 0) << s.ftp.last_error();
  // The archive path of slot 5 ends in a blank; folder case differs.
  ASSERT_NE(s.ftp.Download("dunmar.rar", "d:\\dunmar\\dunmar.rar "), 0) << s.ftp.last_error();
  fs::path folder = s.t.Drive('d') / "Dunmar";
  EXPECT_EQ(ReadFile(folder / "dunmar.rar"), archive);
  EXPECT_TRUE(Others(folder, "dunmar.rar").empty());
  EXPECT_GT(ticks, 0);

  // The same connection serves the next file; an empty file is a file.
  s.server.Put("empty.rar", "");
  ASSERT_NE(s.ftp.Download("empty.rar", "d:\\dunmar\\empty.rar"), 0) << s.ftp.last_error();
  EXPECT_TRUE(fs::is_regular_file(folder / "empty.rar"));
  EXPECT_EQ(fs::file_size(folder / "empty.rar"), 0u);
}

TEST(Ftp, FoldersAreRelativeAndEveryConnectStartsAtTheLoginDirectory) {
  Session s;
  s.server.Put("utility/wrar361it.exe", "installer");
  ASSERT_NE(s.ftp.Connect(), 0);
  EXPECT_EQ(s.ftp.ChangeFolder(std::string(TestFtpServer::kSite) + "/nowhere"), 0);
  // A failed change leaves the folder where it was.
  ASSERT_NE(s.ftp.ChangeFolder(TestFtpServer::kSite), 0);
  ASSERT_NE(s.ftp.ChangeFolder("download/utility"), 0);
  ASSERT_NE(s.ftp.Download("wrar361it.exe", "d:\\wrar361it.exe"), 0) << s.ftp.last_error();

  // Connecting again while connected: back at the login directory.
  ASSERT_NE(s.ftp.Connect(), 0);
  EXPECT_EQ(s.ftp.ChangeFolder("download/utility"), 0);
  EXPECT_NE(s.ftp.ChangeFolder(std::string(TestFtpServer::kSite) + "/download/utility"), 0);

  EXPECT_NE(s.ftp.Disconnect(), 0);
  EXPECT_EQ(s.ftp.Download("wrar361it.exe", "d:\\again.exe"), 0);
  EXPECT_FALSE(fs::exists(s.t.Drive('d') / "again.exe"));
}

TEST(Ftp, EveryConnectLogsInAfreshAndOneConnectionServesTheRest) {
  Session s;
  s.server.Put("a.rar", "a");
  s.server.Put("b.rar", "b");
  ASSERT_NE(s.Login(), 0);
  ASSERT_NE(s.Login(), 0);  // while the first connection is open
  EXPECT_EQ(s.server.Count("logged in", 2), 2);
  EXPECT_EQ(s.server.Count("session closed", 1), 1);  // the first one is not kept
  ASSERT_NE(s.ftp.Download("a.rar", "d:\\a.rar"), 0);
  ASSERT_NE(s.ftp.Download("b.rar", "d:\\b.rar"), 0);
  EXPECT_NE(s.ftp.Disconnect(), 0);
  EXPECT_EQ(s.server.Count("session closed", 2), 2);
  EXPECT_EQ(s.server.Count("logged in"), 2);
}

TEST(Ftp, RefusedLoginAndDeadServerAnswerZero) {
  Session s;
  s.ftp.SetPassword("wrong-secret");
  EXPECT_EQ(s.ftp.Connect(), 0);
  EXPECT_EQ(s.ftp.last_error().find("wrong-secret"), std::string::npos);
  EXPECT_EQ(s.ftp.ChangeFolder(TestFtpServer::kSite), 0);

  // Nobody listens on this port any more.
  std::string host;
  {
    TestFtpServer gone;
    host = gone.host();
  }
  s.ftp.SetHost(host);
  s.ftp.SetPassword(TestFtpServer::kPassword);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(s.ftp.Connect(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST(Ftp, FailedDownloadsLeaveTheOldArchiveAndNoTemporaryFile) {
  TestFtpServer::Faults faults;
  faults.broken = {"vemo.rar"};
  faults.refuse = {"olbi.rar"};
  Session s(faults);
  s.server.Put("vemo.rar", Bytes(4 * 1024 * 1024, 2));
  s.server.Put("olbi.rar", "refused");
  fs::path vemo = s.t.Put('d', "vemo/vemo.rar", "earlier archive");
  fs::path olbi = s.t.Put('d', "olbi/olbi.rar", "earlier archive");
  ASSERT_NE(s.Login(), 0);

  EXPECT_EQ(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar "), 0);
  EXPECT_EQ(ReadFile(vemo), "earlier archive");
  EXPECT_TRUE(Others(vemo.parent_path(), "vemo.rar").empty());

  ASSERT_NE(s.Login(), 0);
  EXPECT_EQ(s.ftp.Download("olbi.rar", "d:\\olbi\\olbi.rar "), 0);
  EXPECT_EQ(ReadFile(olbi), "earlier archive");
  EXPECT_TRUE(Others(olbi.parent_path(), "olbi.rar").empty());

  // Missing on the server, and a target folder that does not exist.
  EXPECT_EQ(s.ftp.Download("absent.rar", "d:\\olbi\\absent.rar"), 0);
  EXPECT_TRUE(Others(olbi.parent_path(), "olbi.rar").empty());
  s.server.Put("fenu.rar", "fenu");
  EXPECT_EQ(s.ftp.Download("fenu.rar", "d:\\fenu\\fenu.rar "), 0);
  EXPECT_FALSE(fs::exists(s.t.Drive('d') / "fenu"));
}

TEST(Ftp, StalledServerFailsWithinTheTimeLimit) {
  TestFtpServer::Faults faults;
  faults.stalled = {"morva.rar"};
  Session s(faults);
  s.server.Put("morva.rar", Bytes(2 * 1024 * 1024, 3));
  fs::path morva = s.t.Put('d', "morva/morva.rar", "earlier archive");
  int ticks = 0;
  s.ftp.SetKeepAlive([&] { ++ticks; }, 50ms);
  ASSERT_NE(s.Login(), 0);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(s.ftp.Download("morva.rar", "d:\\MORVA\\morva.rar "), 0);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, 6s);
  EXPECT_GE(ticks, 10);  // the window kept repainting meanwhile
  EXPECT_EQ(ReadFile(morva), "earlier archive");
  EXPECT_TRUE(Others(morva.parent_path(), "morva.rar").empty());

  // A new login works after the stall.
  s.server.Put("fenu.rar", "fenu");
  ASSERT_NE(s.Login(), 0);
  EXPECT_NE(s.ftp.Download("fenu.rar", "d:\\morva\\fenu.rar"), 0) << s.ftp.last_error();
}

TEST(Ftp, SilentGreetingFailsWithinTheTimeLimit) {
  TestFtpServer::Faults faults;
  faults.stall_greeting = true;
  Session s(faults);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(s.ftp.Connect(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
}

}  // namespace
}  // namespace avendro
