#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "channel/system_proxy.h"
#include "platform/local_time.h"
#include "tests/update_fixture.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ReadFile;
using testing::TempPrefix;
using testing::TestFtpServer;

// Passes when the operation succeeded, else fails with its reason.
::testing::AssertionResult Ok(const Status& status) {
  if (status.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << status.message();
}

// The reason of a failed operation; a success says so instead.
std::string Why(const Status& status) { return status.ok() ? "(no failure)" : status.message(); }

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

// Gives a server file the modification time `seconds` after 2020.
void SetTime(const fs::path& path, int seconds) {
  auto when = std::chrono::file_clock::from_sys(
      std::chrono::sys_days{std::chrono::year{2020} / 1 / 1} + std::chrono::seconds(seconds));
  fs::last_write_time(path, when);
}

struct Session {
  explicit Session(const TestFtpServer::Faults& faults = {})
      : server(faults), files(testing::SystemFileSystem(t)) {
    ftp.SetTimeLimits(3s, 2s);
    ftp.SetTls({server.settings().tls_required, server.settings().ca_pem});
    ftp.SetHost(server.host());
    ftp.SetAccount(TestFtpServer::kUser);
    ftp.SetPassword(TestFtpServer::kPassword);
    if (faults.web) ftp.SetAddress(server.settings());
  }
  Status Login() {
    Status status = ftp.Connect();
    if (!status.ok()) return status;
    return ftp.ChangeFolder(server.settings().site + "/download");
  }
  TempPrefix t;
  TestFtpServer server;
  std::unique_ptr<FileSystem> files;
  UpdateServer ftp{*files};
};

TEST(Ftp, DownloadFollowsWindowsPathRulesAndReplacesTheOldFile) {
  Session s;
  const std::string archive = Bytes(3 * 1024 * 1024 + 17, 1);
  s.server.Put("dunmar.rar", archive);
  s.t.Put('d', "Dunmar/dunmar.rar", "old archive");
  int ticks = 0;
  s.ftp.SetKeepAlive([&] { ++ticks; }, 0ms);
  std::vector<std::pair<uint64_t, int64_t>> progress;
  s.ftp.SetProgress([&](uint64_t done, int64_t total) { progress.emplace_back(done, total); });

  ASSERT_TRUE(Ok(s.Login()));
  // The archive path of slot 5 ends in a blank; folder case differs.
  ASSERT_TRUE(Ok(s.ftp.Download("dunmar.rar", "d:\\dunmar\\dunmar.rar ")));
  fs::path folder = s.t.Drive('d') / "Dunmar";
  EXPECT_EQ(ReadFile(folder / "dunmar.rar"), archive);
  EXPECT_TRUE(Others(folder, "dunmar.rar").empty());
  EXPECT_GT(ticks, 0);

  // The window saw the file grow to its announced size.
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(uint64_t{archive.size()}, int64_t(archive.size())));
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

  // The same connection serves the next file.
  s.server.Put("fenu.rar", "fenu");
  ASSERT_TRUE(Ok(s.ftp.Download("fenu.rar", "d:\\dunmar\\fenu.rar")));
  EXPECT_EQ(ReadFile(folder / "fenu.rar"), "fenu");
}

TEST(Ftp, FoldersAreRelativeAndEveryConnectStartsAtTheLoginDirectory) {
  Session s;
  s.server.Put("utility/wrar361it.exe", "installer");
  ASSERT_TRUE(Ok(s.ftp.Connect()));
  EXPECT_FALSE(s.ftp.ChangeFolder(std::string(TestFtpServer::kSite) + "/nowhere").ok());
  // A failed change leaves the folder where it was.
  ASSERT_TRUE(Ok(s.ftp.ChangeFolder(TestFtpServer::kSite)));
  ASSERT_TRUE(Ok(s.ftp.ChangeFolder("download/utility")));
  ASSERT_TRUE(Ok(s.ftp.Download("wrar361it.exe", "d:\\wrar361it.exe")));

  // Connecting again while connected: back at the login directory.
  ASSERT_TRUE(Ok(s.ftp.Connect()));
  EXPECT_FALSE(s.ftp.ChangeFolder("download/utility").ok());
  EXPECT_TRUE(Ok(s.ftp.ChangeFolder(std::string(TestFtpServer::kSite) + "/download/utility")));

  EXPECT_TRUE(Ok(s.ftp.Disconnect()));
  EXPECT_FALSE(s.ftp.Download("wrar361it.exe", "d:\\again.exe").ok());
  EXPECT_FALSE(fs::exists(s.t.Drive('d') / "again.exe"));
}

TEST(Ftp, EveryConnectLogsInAfreshAndOneConnectionServesTheRest) {
  Session s;
  s.server.Put("a.rar", "a");
  s.server.Put("b.rar", "b");
  ASSERT_TRUE(Ok(s.Login()));
  ASSERT_TRUE(Ok(s.Login()));  // while the first connection is open
  EXPECT_EQ(s.server.Count("logged in", 2), 2);
  EXPECT_EQ(s.server.Count("session closed", 1), 1);  // the first one is not kept
  ASSERT_TRUE(Ok(s.ftp.Download("a.rar", "d:\\a.rar")));
  ASSERT_TRUE(Ok(s.ftp.Download("b.rar", "d:\\b.rar")));
  EXPECT_TRUE(Ok(s.ftp.Disconnect()));
  EXPECT_EQ(s.server.Count("session closed", 2), 2);
  EXPECT_EQ(s.server.Count("logged in"), 2);
}

TEST(Ftp, RefusedLoginAndDeadServerFailWithTheirReason) {
  TestFtpServer::Faults echo;
  echo.echo_password = true;
  Session s(echo);
  s.ftp.SetPassword("wrong-secret");
  Status failed = s.ftp.Connect();
  EXPECT_FALSE(failed.ok());
  EXPECT_NE(failed.message().find("530 Password errata: ***"), std::string::npos)
      << failed.message();
  EXPECT_FALSE(s.ftp.ChangeFolder(TestFtpServer::kSite).ok());

  // Nobody listens on this port any more.
  std::string host;
  {
    TestFtpServer gone;
    host = gone.host();
  }
  s.ftp.SetHost(host);
  s.ftp.SetPassword("on");  // short: hidden only where a password can stand
  failed = s.ftp.Connect();
  EXPECT_FALSE(failed.ok());
  // Refused at once, not waited out to the connection time limit.
  EXPECT_EQ(failed.message().rfind("il server " + host + " non accetta connessioni", 0), 0u)
      << failed.message();
}

TEST(Ftp, FailedDownloadsLeaveTheOldArchiveAndResumeWhileTheServerFileIsTheSame) {
  TestFtpServer::Faults faults;
  faults.broken = {"vemo.rar"};
  faults.refuse = {"olbi.rar"};
  Session s(faults);
  const std::string first = Bytes(4 * 1024 * 1024, 2);
  SetTime(s.server.Put("vemo.rar", first), 1000);
  s.server.Put("olbi.rar", "refused");
  fs::path vemo = s.t.Put('d', "vemo/vemo.rar", "earlier archive");
  fs::path olbi = s.t.Put('d', "olbi/olbi.rar", "earlier archive");
  ASSERT_TRUE(Ok(s.Login()));

  // Broken off at half: the half waits beside the old archive.
  EXPECT_FALSE(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar ").ok());
  EXPECT_EQ(ReadFile(vemo), "earlier archive");
  std::vector<std::string> partial = Others(vemo.parent_path(), "vemo.rar");
  ASSERT_EQ(partial.size(), 1u);
  EXPECT_EQ(ReadFile(vemo.parent_path() / partial[0]), first.substr(0, first.size() / 2));

  // The server's file changed meanwhile: the half is useless, the next
  // download starts afresh (and breaks again, at the half of the new one).
  const std::string second = Bytes(3 * 1024 * 1024, 5);
  SetTime(s.server.Put("vemo.rar", second), 2000);
  ASSERT_TRUE(Ok(s.Login()));
  EXPECT_FALSE(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar ").ok());
  EXPECT_EQ(s.server.Count("REST " + std::to_string(first.size() / 2)), 0);
  partial = Others(vemo.parent_path(), "vemo.rar");
  ASSERT_EQ(partial.size(), 1u);
  EXPECT_EQ(ReadFile(vemo.parent_path() / partial[0]), second.substr(0, second.size() / 2));

  // Unchanged now: the next run goes on from the half.
  ASSERT_TRUE(Ok(s.Login()));
  ASSERT_TRUE(Ok(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar ")));
  EXPECT_EQ(s.server.Count("REST " + std::to_string(second.size() / 2), 1), 1);
  EXPECT_EQ(ReadFile(vemo), second);
  EXPECT_TRUE(Others(vemo.parent_path(), "vemo.rar").empty());

  // Refused, and left from a run a week ago: nothing stays.
  fs::path stale = s.t.Put('d', "olbi/olbi.rar.7-1000.avendro-part", "olbi.r");
  fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(24 * 8));
  EXPECT_FALSE(s.ftp.Download("olbi.rar", "d:\\olbi\\olbi.rar ").ok());
  EXPECT_EQ(ReadFile(olbi), "earlier archive");
  EXPECT_TRUE(Others(olbi.parent_path(), "olbi.rar").empty());

  // Missing on the server, and a target folder that does not exist.
  EXPECT_FALSE(s.ftp.Download("absent.rar", "d:\\olbi\\absent.rar").ok());
  EXPECT_TRUE(Others(olbi.parent_path(), "olbi.rar").empty());
  s.server.Put("fenu.rar", "fenu");
  Status failed = s.ftp.Download("fenu.rar", "d:\\fenu\\fenu.rar ");
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.message().rfind("d:\\fenu\\fenu.rar", 0), 0) << failed.message();
  EXPECT_FALSE(fs::exists(s.t.Drive('d') / "fenu"));
}

TEST(Ftp, OnlyTheWholeAnnouncedFileReplacesTheOldOne) {
  TestFtpServer::Faults faults;
  faults.shortened = {"short.rar"};
  faults.lengthened = {"long.rar"};
  faults.no_size = {"nosize.rar", "nothing.rar"};
  faults.announce_short = {"announced.rar"};
  Session s(faults);
  s.server.Put("announced.rar", Bytes(262143, 7));
  for (const char* name : {"short.rar", "long.rar", "nosize.rar"}) {
    s.server.Put(name, Bytes(256 * 1024, 7));
  }
  s.server.Put("empty.rar", "");
  s.server.Put("nothing.rar", "");
  ASSERT_TRUE(Ok(s.Login()));
  const std::pair<const char*, const char*> refused[] = {
      {"short.rar",
       "trasferimento interrotto, arrivati 131072 byte dei 262144 annunciati dal server"},
      {"long.rar", "il server manda più dei 262144 byte annunciati"},
      {"empty.rar", "il file sul server è vuoto"},
      {"nothing.rar", "il file sul server è vuoto"},
      {"announced.rar",
       "trasferimento interrotto, arrivati 87381 byte dei 262143 annunciati dal server"},
  };
  for (const auto& [name, reason] : refused) {
    fs::path old = s.t.Put('d', std::string("drubel/") + name, "earlier");
    Status failed = s.ftp.Download(name, std::string("d:\\drubel\\") + name);
    EXPECT_EQ(Why(failed), std::string(name) + ": " + reason);
    EXPECT_TRUE(ReadFile(old) == "earlier") << name;
  }
  // Without SIZE the file is taken as it comes, but never kept half.
  ASSERT_TRUE(Ok(s.ftp.Download("nosize.rar", "d:\\drubel\\nosize.rar")));
  EXPECT_EQ(ReadFile(s.t.Drive('d') / "drubel" / "nosize.rar"), Bytes(256 * 1024, 7));
  // The six targets, and the half of short.rar for a resume.
  EXPECT_EQ(Others(s.t.Drive('d') / "drubel", "").size(), 7u);
}

TEST(Ftp, PartialFilesNoResumeCanUseGiveWayToTheWholeFile) {
  Session s;
  const std::string archive = Bytes(300 * 1024, 13);
  SetTime(s.server.Put("vemo.rar", archive), 1000);  // MDTM 1577837800
  SetTime(s.server.Put("olbi.rar", archive), 1000);
  // A hard link planted at the name of the partial file never gets a byte.
  fs::path victim = s.t.Put('d', "victim.txt", archive.substr(0, 1000));
  fs::path vemo = s.t.Drive('d') / "vemo";
  fs::create_directories(vemo);
  fs::create_hard_link(victim, vemo / "vemo.rar.307200-1577837800.avendro-part");
  // What a server without SIZE left, and a script of a killed run.
  s.t.Put('d', "olbi/olbi.rar.avendro-part", "olbi");
  if (!testing::OnWindows()) s.t.Put('d', "olbi/.aggiorna.bat.download-999999999-3", "x");
  ASSERT_TRUE(Ok(s.Login()));
  ASSERT_TRUE(Ok(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar")));
  EXPECT_EQ(ReadFile(victim), archive.substr(0, 1000));
  EXPECT_EQ(Others(vemo, "vemo.rar"), std::vector<std::string>{});
  EXPECT_TRUE(ReadFile(vemo / "vemo.rar") == archive);
  ASSERT_TRUE(Ok(s.ftp.Download("olbi.rar", "d:\\olbi\\olbi.rar")));
  EXPECT_EQ(Others(s.t.Drive('d') / "olbi", "olbi.rar"), std::vector<std::string>{});
  TestFtpServer::Faults resumes_nothing;
  resumes_nothing.no_rest = true;
  Session r(resumes_nothing);
  SetTime(r.server.Put("olbi.rar", archive), 1000);
  ASSERT_TRUE(Ok(r.Login()));

  // A server that refuses to resume gets the whole file in the same run.
  r.t.Put('d', "rest/olbi.rar.307200-1577837800.avendro-part", archive.substr(0, 5000));
  ASSERT_TRUE(Ok(r.ftp.Download("olbi.rar", "d:\\rest\\olbi.rar")));
  EXPECT_EQ(r.server.Count("REST 5000 502", 1), 1);
  EXPECT_TRUE(ReadFile(r.t.Drive('d') / "rest" / "olbi.rar") == archive);
  EXPECT_EQ(Others(r.t.Drive('d') / "rest", "olbi.rar"), std::vector<std::string>{});

  // A drive that fills up gets its space back: no partial file stays.
  fs::create_directories(r.t.Drive('d') / "full");
  int full = testing::WithMounts(
      {{"avendro", (r.t.Drive('d') / "full").string(), "tmpfs", "size=64k"}}, [&] {
        if (!r.Login().ok()) return 3;
        if (r.ftp.Download("olbi.rar", "d:\\full\\olbi.rar").ok()) return 1;
        return fs::is_empty(r.t.Drive('d') / "full") ? 0 : 2;
      });
  if (full != testing::kNoMounts) {
    EXPECT_EQ(full, 0);
  }
}

TEST(Ftp, TrickleAndClosingWindowEndTheTransferAndKeepWhatCame) {
  TestFtpServer::Faults faults;
  faults.trickled = {"zal.rar"};
  faults.stalled = {"morva.rar"};
  Session s(faults);
  s.server.Put("zal.rar", Bytes(64 * 1024, 8));
  s.server.Put("morva.rar", Bytes(2 * 1024 * 1024, 9));
  s.ftp.SetSlowLimit(1024, 2s);
  ASSERT_TRUE(Ok(s.Login()));
  Status failed = s.ftp.Download("zal.rar", "d:\\zal.rar");
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.message(),
            "zal.rar: trasferimento troppo lento: meno di 1024 byte al secondo per 2 s");

  // The window is closed while the server is silent: the transfer ends at
  // once (long before the stall limit would end it), its half stays for the
  // next run, and nothing more is done.
  s.ftp.SetTimeLimits(3s, 600s);
  ASSERT_TRUE(Ok(s.Login()));
  // Once the half has come and the server fell silent.
  s.ftp.SetProgress([&](uint64_t done, int64_t) {
    if (done >= 1024 * 1024) s.ftp.Cancel();
  });
  failed = s.ftp.Download("morva.rar", "d:\\morva.rar");
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.message(), "morva.rar: operazione interrotta: la finestra viene chiusa");
  EXPECT_FALSE(fs::exists(s.t.Drive('d') / "morva.rar"));
  int parts = 0;
  for (const auto& name : Others(s.t.Drive('d'), "")) parts += name.ends_with(".avendro-part");
  EXPECT_EQ(parts, 2);  // zal's few bytes and morva's half
  EXPECT_FALSE(s.ftp.Connect().ok());
}

TEST(Ftp, StalledServerFailsWithinTheTimeLimit) {
  TestFtpServer::Faults faults;
  faults.stalled = {"morva.rar"};
  Session s(faults);
  s.server.Put("morva.rar", Bytes(2 * 1024 * 1024, 3));
  fs::path morva = s.t.Put('d', "morva/morva.rar", "earlier archive");
  int ticks = 0;
  s.ftp.SetKeepAlive([&] { ++ticks; }, 50ms);
  ASSERT_TRUE(Ok(s.Login()));

  auto start = std::chrono::steady_clock::now();
  Status failed = s.ftp.Download("morva.rar", "d:\\MORVA\\morva.rar ");
  EXPECT_FALSE(failed.ok());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_EQ(failed.message(), "morva.rar: nessun dato dal server per 2 s");
  EXPECT_GE(ticks, 10);  // the window kept repainting meanwhile
  EXPECT_EQ(ReadFile(morva), "earlier archive");
  EXPECT_EQ(Others(morva.parent_path(), "morva.rar").size(), 1u);  // the half, for a resume

  // A new login works after the stall.
  s.server.Put("fenu.rar", "fenu");
  ASSERT_TRUE(Ok(s.Login()));
  EXPECT_TRUE(Ok(s.ftp.Download("fenu.rar", "d:\\morva\\fenu.rar")));
}

TEST(Ftp, SilentGreetingFailsWithinTheTimeLimit) {
  TestFtpServer::Faults faults;
  faults.stall_greeting = true;
  Session s(faults);
  Status failed = s.ftp.Connect();
  EXPECT_FALSE(failed.ok());
  EXPECT_NE(failed.message().find("non risponde"), std::string::npos) << failed.message();

  // A server that answers, but not as FTP does, says so at once.
  TestFtpServer::Faults ssh;
  ssh.not_ftp = true;
  TestFtpServer other(ssh);
  s.ftp.SetHost(other.host());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Why(s.ftp.Connect()), "il server " + other.host() +
                                      " non risponde come un server FTP (SSH-2.0-OpenSSH_9.2p1 " +
                                      "Debian-2)");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

TEST(Ftp, TlsRequiredTrustsOnlyAVerifiedServerAndSendsNothingBefore) {
  TestFtpServer::Faults faults;
  faults.tls = true;
  faults.broken = {"vemo.rar"};
  Session s(faults);
  const std::string archive = Bytes(3 * 1024 * 1024, 11);
  s.server.Put("vemo.rar", archive);
  ASSERT_TRUE(Ok(s.Login()));
  EXPECT_FALSE(s.ftp.Download("vemo.rar", "d:\\vemo.rar").ok());  // broken at half, then resumed
  ASSERT_TRUE(Ok(s.Login()));
  ASSERT_TRUE(Ok(s.ftp.Download("vemo.rar", "d:\\vemo.rar")));
  EXPECT_EQ(ReadFile(s.t.Drive('d') / "vemo.rar"), archive);

  // A certificate for another name, and one of another authority.
  TestFtpServer::Faults wrong_name = faults;
  wrong_name.tls_wrong_name = true;
  TestFtpServer elsewhere(wrong_name);
  s.ftp.SetHost(elsewhere.host());
  s.ftp.SetTls({elsewhere.settings().tls_required, elsewhere.settings().ca_pem});
  Status failed = s.ftp.Connect();
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.message().rfind("il certificato del server non è valido", 0), 0)
      << failed.message();
  s.ftp.SetHost(s.server.host());
  failed = s.ftp.Connect();
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.message().rfind("il certificato del server non è valido", 0), 0)
      << failed.message();
  // The system's store does not know the test's authority. (Wine's
  // Schannel takes any certificate there; Windows itself does not.)
  if (!testing::OnWindows()) {
    s.ftp.SetTls({true, ""});
    failed = s.ftp.Connect();
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.message().rfind("il certificato del server non è valido", 0), 0)
        << failed.message();
  }
  EXPECT_EQ(s.server.Count("logged in"), 2);
  EXPECT_EQ(elsewhere.Count("USER"), 0);
  if (!testing::OnWindows()) {
    // A built-in authority is the only one: not even a system store that
    // knows the server's authority (here a private one over libcurl's
    // default folder) lets another through.
    const fs::path store = s.t.root() / "store";
    fs::create_directories(store);
    std::ofstream(store / "ca.pem") << s.server.CaPem();
    const std::string hash_command =
        "openssl x509 -noout -subject_hash -in '" + (store / "ca.pem").string() + "'";
    std::string hash(16, '\0');
    FILE* out = popen(hash_command.c_str(), "r");
    hash.resize(out != nullptr ? fread(hash.data(), 1, hash.size(), out) : 0);
    if (out != nullptr) pclose(out);
    fs::copy_file(store / "ca.pem", store / "ca-certificates.crt");
    fs::rename(store / "ca.pem", store / (hash.substr(0, hash.find('\n')) + ".0"));
    int login = testing::WithMounts({{store.string(), "/etc/ssl/certs", "", ""}}, [&] {
      UpdateServer fresh{*s.files};
      fresh.SetHost(s.server.host());
      fresh.SetAccount(TestFtpServer::kUser);
      fresh.SetPassword(TestFtpServer::kPassword);
      fresh.SetTls({true, ""});
      if (!fresh.Connect().ok()) return 2;  // the private store is not the one used
      fresh.SetTls({true, elsewhere.CaPem()});
      return fresh.Connect().ok() ? 1 : 0;
    });
    if (login != testing::kNoMounts) {
      EXPECT_EQ(login, 0);
    }
  }

  // A server without TLS never sees the account, let alone the password.
  TestFtpServer plain;
  s.ftp.SetHost(plain.host());
  s.ftp.SetTls({true, s.server.CaPem()});
  failed = s.ftp.Connect();
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.message().rfind("il server non offre una connessione protetta (TLS)", 0), 0)
      << failed.message();
  EXPECT_EQ(plain.Count("USER"), 0);
}

// The vendor's side, for real: a key made by minisign and the archives
// signed by tools/sign-archives.
class FtpSigned : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::OnWindows()) GTEST_SKIP() << "minisign is not run from Windows programs";
    keys_ = testing::FreshFolder("avendro-vendor-");
    Run("minisign -G -W -p '" + (keys_ / "key.pub").string() + "' -s '" +
        (keys_ / "key.key").string() + "'");
    std::string pub = ReadFile(keys_ / "key.pub");
    SigningKey key;
    ASSERT_TRUE(SigningKey::Parse(pub.substr(pub.find('\n') + 1), &key).ok());
    TestFtpServer::Faults faults;
    faults.broken = {"morva.rar"};
    s_ = std::make_unique<Session>(faults);
    s_->ftp.SetSigningKey(key);
    s_->ftp.SetWorkDrive('d');
  }
  void TearDown() override {
    if (!keys_.empty()) fs::remove_all(keys_);
  }
  static void Run(const std::string& command) {
    ASSERT_EQ(std::system((command + " </dev/null >/dev/null 2>&1").c_str()), 0) << command;
  }
  void SignAll() {
    Run(std::string("'") + AVENDRO_SOURCE_DIR + "/tools/sign-archives' -s '" +
        (keys_ / "key.key").string() + "' '" + (s_->server.home() / TestFtpServer::kSite).string() +
        "'");
  }

  // Signs `name` on the server with `comment` as its trusted comment.
  void Sign(const std::string& name, const std::string& comment) {
    Run("minisign -S -s '" + (keys_ / "key.key").string() + "' -m '" +
        (s_->server.home() / TestFtpServer::kSite / "download" / name).string() +
        "' -t \"$(printf '" + comment + "')\"");
  }

  fs::path keys_;
  std::unique_ptr<Session> s_;
};

TEST_F(FtpSigned, ASignatureNamesItsArchiveAndNeverOneOlderThanTheLastAccepted) {
  Session& s = *s_;
  s.server.Put("dunmar.rar", "new");
  s.server.Put("vemo.rar", "new");
  SignAll();
  fs::path download = s.server.home() / TestFtpServer::kSite / "download";
  fs::copy_file(download / "dunmar.rar.minisig", download / "vemo.rar.minisig",
                fs::copy_options::overwrite_existing);
  s.server.Put("vemo.rar", "new");
  ASSERT_TRUE(Ok(s.Login()));
  EXPECT_EQ(Why(s.ftp.Download("vemo.rar", "d:\\vemo.rar")),
            "vemo.rar: la firma è di un altro file (dunmar.rar)");
  ASSERT_TRUE(Ok(s.ftp.Download("dunmar.rar", "d:\\dunmar.rar")));
  std::string state = ReadFile(s.t.Drive('d') / "drubel" / "avendro-firme.txt");
  EXPECT_TRUE(state.ends_with(" dunmar.rar\r\n")) << state;

  // An older archive, signed long ago: the one on the drive stays.
  s.server.Put("dunmar.rar", "old");
  Sign("dunmar.rar", "timestamp:1000\\tfile:DUNMAR.RAR");
  EXPECT_EQ(Why(s.ftp.Download("dunmar.rar", "d:\\dunmar.rar")),
            "dunmar.rar: firma del 1000, più vecchia di quella già accettata (" +
                state.substr(0, state.find(' ')) +
                "): l'archivio sul server è una versione precedente");
  Sign("dunmar.rar", "file:dunmar.rar");
  EXPECT_EQ(Why(s.ftp.Download("dunmar.rar", "d:\\dunmar.rar")),
            "dunmar.rar: la firma non dice quando è stata fatta");
  EXPECT_EQ(ReadFile(s.t.Drive('d') / "dunmar.rar"), "new");
  // Dated far ahead, by a wrong clock: accepted, it would refuse every
  // signature of the right time after it.
  Sign("dunmar.rar", "timestamp:4000000000\\tfile:dunmar.rar");
  EXPECT_EQ(
      Why(s.ftp.Download("dunmar.rar", "d:\\dunmar.rar")).rfind("dunmar.rar: firma datata ", 0), 0);
  EXPECT_EQ(ReadFile(s.t.Drive('d') / "drubel" / "avendro-firme.txt"), state);
  // Signed again, it has a new time: the vendor's way back. Lines that are
  // not the program's, or hold a time no 64-bit number holds, are passed over.
  s.t.Put('d', "drubel/avendro-firme.txt",
          state + "x dunmar.rar\r\n9999999999999999999 dunmar.rar\r\n1 \r\n");
  Sign("dunmar.rar", "timestamp:" + std::to_string(std::time(nullptr)) + "\\tfile:dunmar.rar");
  ASSERT_TRUE(Ok(s.ftp.Download("dunmar.rar", "d:\\dunmar.rar")));
  EXPECT_EQ(ReadFile(s.t.Drive('d') / "dunmar.rar"), "old");
}

// The clock rule with the shop's clock given: a day's margin, both times
// named, and a time accepted before from a clock far ahead is no "older
// version" but the operator's to remove.
TEST(SignedTime, NoWrongClockLocksAnArchiveOut) {
  const int64_t now = 1796800000, day = 24 * 3600;
  auto text = [](int64_t t) { return LocalTimeText(std::chrono::system_clock::from_time_t(t)); };
  EXPECT_TRUE(SignedTimeAccepted("a.rar", now + day, now - 1, now).ok());
  const std::string ahead = Why(SignedTimeAccepted("a.rar", now + day + 1, -1, now));
  EXPECT_NE(ahead.find(text(now + day + 1)), std::string::npos) << ahead;
  EXPECT_NE(ahead.find(text(now)), std::string::npos) << ahead;
  const std::string locked = Why(SignedTimeAccepted("A.rar", now, now + 30 * day, now));
  EXPECT_NE(locked.find("togliere la riga di a.rar"), std::string::npos) << locked;
  EXPECT_NE(Why(SignedTimeAccepted("a.rar", now, now + day, now)).find("versione precedente"),
            std::string::npos);
}

TEST_F(FtpSigned, OnlyArchivesSignedWithTheBuiltInKeyReplaceTheOldOnes) {
  Session& s = *s_;
  const std::string archive = Bytes(2 * 1024 * 1024, 12);
  for (const char* name : {"dunmar.rar", "vemo.rar", "olbi.rar", "zal.rar", "morva.rar"}) {
    s.server.Put(name, archive);
  }
  SignAll();
  fs::path download = s.server.home() / TestFtpServer::kSite / "download";
  std::ofstream(download / "vemo.rar", std::ios::app) << "!";  // changed after signing
  fs::remove(download / "olbi.rar.minisig");
  std::ofstream(download / "zal.rar.minisig") << std::string(10 * 1024 * 1024, 'x');
  ASSERT_TRUE(Ok(s.Login()));

  ASSERT_TRUE(Ok(s.ftp.Download("dunmar.rar", "d:\\dunmar.rar")));
  EXPECT_TRUE(ReadFile(s.t.Drive('d') / "dunmar.rar") == archive);
  const std::pair<const char*, std::string> refused[] = {
      {"vemo.rar", "vemo.rar: firma non valida"},
      {"olbi.rar", "olbi.rar: firma mancante, olbi.rar.minisig non è sul server"},
      {"zal.rar", "zal.rar: file della firma troppo grande (zal.rar.minisig)"},
  };
  for (const auto& [name, reason] : refused) {
    fs::path old = s.t.Put('d', name, "earlier");
    Status failed = s.ftp.Download(name, std::string("d:\\") + name);
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.message().substr(0, reason.size()), reason);
    EXPECT_EQ(ReadFile(old), "earlier");
  }
  EXPECT_EQ(s.server.Count("RETR /" + std::string(TestFtpServer::kSite) + "/download/olbi.rar "),
            0);  // no signature, no download

  // A download cut short is checked as a whole once resumed.
  EXPECT_FALSE(s.ftp.Download("morva.rar", "d:\\morva.rar").ok());
  ASSERT_TRUE(Ok(s.Login()));
  ASSERT_TRUE(Ok(s.ftp.Download("morva.rar", "d:\\morva.rar")));
  EXPECT_TRUE(ReadFile(s.t.Drive('d') / "morva.rar") == archive);
  EXPECT_EQ(s.server.Count("REST " + std::to_string(archive.size() / 2)), 1);
  std::vector<std::string> leftovers;
  for (const auto& name : Others(s.t.Drive('d'), "")) {
    if (name.ends_with(".avendro-part")) leftovers.push_back(name);
  }
  EXPECT_EQ(leftovers, std::vector<std::string>{});
}

#ifndef _WIN32
// Cut short, the download goes on with a Range request that names the file
// it began with; a changed file starts afresh, and a server that answers a
// range with the whole file gives it whole in the same run.
TEST(Https, ACutTransferResumesOnlyOntoTheSameFile) {
  TestFtpServer::Faults faults;
  faults.web = true;
  faults.web_faults = {"short:vemo.rar", "no-range:olbi.rar"};
  Session s(faults);
  const std::string first = Bytes(1024 * 1024, 3), second = Bytes(900 * 1024, 4);
  SetTime(s.server.Put("vemo.rar", first), 1000);
  SetTime(s.server.Put("olbi.rar", first), 1000);
  fs::path vemo = s.t.Put('d', "vemo/vemo.rar", "earlier archive");
  ASSERT_TRUE(Ok(s.Login()));
  EXPECT_NE(Why(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar")).find("connessione interrotta"),
            std::string::npos);
  SetTime(s.server.Put("vemo.rar", second), 2000);
  EXPECT_FALSE(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar").ok());
  EXPECT_EQ(ReadFile(vemo), "earlier archive");
  ASSERT_TRUE(Ok(s.ftp.Download("vemo.rar", "d:\\vemo\\vemo.rar")));
  EXPECT_EQ(ReadFile(vemo), second);
  EXPECT_EQ(
      s.server.Count(" 206 range=bytes=" + std::to_string(second.size() / 2) + "- if-range=\""), 1);
  EXPECT_EQ(s.server.Count("range=bytes=" + std::to_string(first.size() / 2)), 0);

  s.t.Put('d', "olbi/olbi.rar.1048576-1577837800.avendro-part", first.substr(0, 1000));
  ASSERT_TRUE(Ok(s.ftp.Download("olbi.rar", "d:\\olbi\\olbi.rar")));
  EXPECT_EQ(ReadFile(s.t.Drive('d') / "olbi" / "olbi.rar"), first);
  EXPECT_EQ(s.server.Count("GET /www.zefirano.test/download/olbi.rar 200 range=bytes=1000-"), 1);
}

// What a web server, a proxy or a network's login page can do wrong: each
// says why, and the old archive stays.
TEST(Https, EachFaultOfAWebServerGivesItsReasonAndLeavesTheOldArchive) {
  TestFtpServer::Faults faults;
  faults.web = true;
  faults.web_faults = {"wrong-range:range.rar", "stall:stall.rar",     "to-http:plain.rar",
                       "loop:loop.rar",         "other-host:page.rar", "gzip:gzip.rar",
                       "trickle:trickle.rar"};
  Session s(faults);
  const std::pair<std::string, std::string> refused[] = {
      {"range.rar", "un pezzo del file diverso da quello chiesto dal byte 0"},
      {"stall.rar", "nessun dato dal server per 2 s"},
      {"plain.rar", "un indirizzo non protetto (http://127.0.0.1:"},
      {"loop.rar", "più di 5 volte"},
      {"page.rar", "una pagina web invece del file (da localhost:"},
      {"gzip.rar", "compresso (Content-Encoding: gzip)"},
      {"absent.rar", "il file non è sul server (404)"},
      {"trickle.rar", "trasferimento troppo lento"},
  };
  ASSERT_TRUE(Ok(s.Login()));
  for (const auto& [name, reason] : refused) {
    if (name != "absent.rar") s.server.Put(name, Bytes(64 * 1024, 5));
    if (name == "trickle.rar") s.ftp.SetSlowLimit(1000, 1s);
    fs::path old = s.t.Put('d', "drubel/" + name, "earlier");
    const std::string why = Why(s.ftp.Download(name, "d:\\drubel\\" + name));
    EXPECT_NE(why.find(name + ": "), std::string::npos) << why;
    EXPECT_NE(why.find(reason), std::string::npos) << why;
    EXPECT_EQ(ReadFile(old), "earlier");
  }
}
#endif

// Windows' proxy settings as WinHttpGetIEProxyConfigForCurrentUser gives them.
TEST(Https, TheSystemsProxySettingsChooseTheProxyForHttps) {
  const std::string url = "https://aggiornamenti.zefirano.example/sito/";
  EXPECT_EQ(ChooseProxy({false, "", "proxy.negozio.lan:3128", "<local>"}, url),
            "proxy.negozio.lan:3128");
  EXPECT_EQ(ChooseProxy({false, "", "http=p1:8080;https=p2:8443;ftp=p3:21", ""}, url), "p2:8443");
  EXPECT_EQ(ChooseProxy({false, "", "http=p1:8080", ""}, url), "");
  EXPECT_EQ(ChooseProxy({false, "", "p1:8080", "10.*; *.ZEFIRANO.example"}, url), "");
  EXPECT_EQ(ChooseProxy({false, "", "p1:8080", "<local>"}, "https://server:8443/x/"), "");
  EXPECT_EQ(ChooseProxy({true, "http://wpad/proxy.pac", "", ""}, url), "");
}

}  // namespace
}  // namespace avendro
