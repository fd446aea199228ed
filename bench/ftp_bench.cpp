// Download speed and memory of the FTP control against the curl tool (its
// file flushed to the disk, as ours is), and
// what a signature check costs, on our test server at 127.0.0.1:
//   ftp_bench                   prints the rounds of each figure, for
//                               bench/figures.py to report
//   ftp_bench fetch HOST FOLDER FILE DIR [--key KEY] [--tls CA_FILE]
//                               one download (the measured child); KEY is
//                               the base64 line of a minisign.pub, CA_FILE
//                               the PEM of the authority to trust over TLS;
//                               HOST "https://..." is a web server's URL
// Each download runs in a process of its own, so that its wall time and its
// peak resident memory are its own.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "channel/update_server.h"
#include "platform/file_system_posix.h"
#include "rounds.h"
#include "tests/update_fixture.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using avendro::bench::Kind;
using avendro::bench::Rounds;
using avendro::testing::TestFtpServer;

// 1 Gbit/s: a shop's download is bound by its link, not by the loopback.
constexpr long kLinkBytesPerSecond = 125000000;

struct Run {
  double seconds = 0;
  long peak_kib = 0;
  bool ok = false;
};

Run Measure(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  Run run;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return run;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peak_kib = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// Says so when a download of the figure before failed: its times mean nothing.
void ReportFailure(const char* figure, bool ok) {
  if (!ok) std::printf("%s: A DOWNLOAD FAILED, the figure above means nothing\n", figure);
}

void MakeFile(const fs::path& path, long mebibytes) {
  std::ofstream out(path, std::ios::binary);
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
  for (long i = 0; i < mebibytes; ++i)
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

void Empty(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
}

// Runs `command` with its output thrown away; true when it succeeded.
bool Quietly(const std::string& command) {
  return std::system((command + " </dev/null >/dev/null 2>&1").c_str()) == 0;
}

// tools/ftp_server.py serving `home` (as TestFtpServer lays it out) and
// sending at most `rate` bytes a second. Stopped by the destructor.
class PacedServer {
 public:
  PacedServer(const fs::path& home, long rate) {
    std::vector<std::string> args = {"/usr/bin/python3", AVENDRO_SOURCE_DIR "/tools/ftp_server.py",
                                     "--home",           home.string(),
                                     "--user",           TestFtpServer::kUser,
                                     "--password",       TestFtpServer::kPassword,
                                     "--rate",           std::to_string(rate)};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The server prints its port once it listens.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0) {
      char buf[64];
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    port_ = std::atoi(line.c_str());
  }
  ~PacedServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  PacedServer(const PacedServer&) = delete;
  PacedServer& operator=(const PacedServer&) = delete;

  bool ok() const { return port_ > 0; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

int Fetch(const std::string& host, const std::string& folder, const std::string& file,
          const std::string& dir, const std::string& key_line, const std::string& ca_file) {
  avendro::DriveMap drives;
  drives.Set('d', dir);
  avendro::PosixFileSystem files(drives);
  avendro::UpdateServer ftp(files);
  ftp.SetHost(host);
  ftp.SetAccount(TestFtpServer::kUser);
  ftp.SetPassword(TestFtpServer::kPassword);
  if (!key_line.empty()) {
    avendro::SigningKey key;
    if (!avendro::SigningKey::Parse(key_line, &key).ok()) return 2;
    ftp.SetSigningKey(key);
    ftp.SetWorkDrive('d');
  }
  const std::string ca = ca_file.empty() ? "" : avendro::testing::ReadFile(ca_file);
  if (!ca.empty()) ftp.SetTls({true, ca});
  if (host.starts_with("https://")) ftp.SetAddress({host, "", "", "", false, ca});
  avendro::Status status = ftp.Connect();
  // A web server's URL names the site already.
  if (status.ok()) status = ftp.ChangeFolder(host.starts_with("https://") ? "download" : folder);
  if (status.ok()) status = ftp.Download(file, "d:\\" + file);
  if (!status.ok()) std::fprintf(stderr, "ftp_bench: %s\n", status.message().c_str());
  (void)ftp.Disconnect();  // the download is measured, not the logout
  return status.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc >= 6 && std::strcmp(argv[1], "fetch") == 0) {
    std::string key_line, ca_file;
    for (int i = 6; i < argc; i += 2) {
      if (i + 1 == argc) return 2;
      if (std::strcmp(argv[i], "--key") == 0) {
        key_line = argv[i + 1];
      } else if (std::strcmp(argv[i], "--tls") == 0) {
        ca_file = argv[i + 1];
      } else {
        return 2;
      }
    }
    return Fetch(argv[2], argv[3], argv[4], argv[5], key_line, ca_file);
  }

  TestFtpServer server;
  const std::string folder = std::string(TestFtpServer::kSite) + "/download";
  for (auto [name, size] : {std::pair{"big.rar", 256L}, {"small.rar", 16L}, {"huge.rar", 512L}}) {
    MakeFile(server.Put(name, ""), size);
  }
  const fs::path work =
      fs::temp_directory_path() / ("avendro-ftpbench-" + std::to_string(getpid()));
  const fs::path drive = work / "d";
  fs::create_directories(drive);
  const std::string self = fs::canonical("/proc/self/exe").string();
  auto ours = [&](const std::string& host, const std::string& file,
                  const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {self, "fetch", host, folder, file, drive.string()};
    args.insert(args.end(), options.begin(), options.end());
    Run r = Measure(args);
    Empty(drive);
    return r;
  };
  // Ours flushes a download to the disk before it moves it over the old
  // archive, so that a power cut leaves one or the other whole; the
  // reference does the same work: curl, then the file and its folder
  // flushed (sync FILE FOLDER).
  auto curl = [&](const std::string& host, const std::string& file,
                  const std::vector<std::string>& options = {}) {
    const std::string out = (drive / file).string();
    std::vector<std::string> args = {"sh", "-c",
                                     "curl -s \"$@\" && exec sync -- \"$0\" \"${0%/*}\"", out};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-o", out, "-u",
                             std::string(TestFtpServer::kUser) + ":" + TestFtpServer::kPassword,
                             "ftp://" + host + "/" + folder + "/" + file});
    Run r = Measure(args);
    Empty(drive);
    return r;
  };
  const double mib = 256.0;
  // Each figure below takes its runs in turns with its reference; the
  // rounds go to bench/figures.py, which prints the figure.
  bool ok = true;
  // Seconds of a run, or MiB/s over the 256 MiB file; `ok` goes false
  // with any failed run.
  auto seconds = [&](const Run& r) {
    ok = ok && r.ok;
    return r.seconds;
  };
  auto rate = [&](const Run& r) { return mib / seconds(r); };

  {
    Rounds figure("download throughput, 256 MiB from our local FTP server", "MiB/s", "curl",
                  Kind::kHigher, ">= 0.95");
    figure.InTurns(
        15, true, [&] { return rate(ours(server.host(), "big.rar")); },
        [&] { return rate(curl(server.host(), "big.rar")); });
  }
  ReportFailure("download throughput", ok);

  // Memory: the peak of a 512 MiB download against that of a 16 MiB one,
  // each in a process of its own.
  ok = true;
  {
    Rounds figure("download peak memory, 512 MiB file vs 16 MiB file", "MiB", "16 MiB file",
                  Kind::kDifference, "< 4");
    auto peak = [&](const char* file) {
      Run r = ours(server.host(), file);
      ok = ok && r.ok;
      return r.peak_kib / 1024.0;
    };
    figure.InTurns(
        5, false, [&] { return peak("huge.rar"); }, [&] { return peak("small.rar"); });
  }
  ReportFailure("download peak memory", ok);

  // Throughput of the same 256 MiB file from a server that protects it,
  // made with `faults`: ours and `reference` take turns, each given where
  // the server is (`address`) and the file of the one CA to trust. The file
  // is a link to big.rar where the file system allows, so that both servers
  // read the bytes that the plain figure read.
  auto protected_throughput =
      [&](const char* name, const char* title, const char* reference_name, const char* target,
          TestFtpServer::Faults faults,
          const std::function<std::string(const TestFtpServer&)>& address,
          const std::function<Run(const std::string&, const std::string&)>& reference) {
        ok = true;
        {
          TestFtpServer protected_server(faults);
          const fs::path copy = protected_server.Put("big.rar", "");
          std::error_code ec;
          fs::remove(copy, ec);
          fs::create_hard_link(server.home() / TestFtpServer::kSite / "download" / "big.rar", copy,
                               ec);
          if (ec) MakeFile(copy, 256);
          const std::string ca = (work / "ca.pem").string();
          std::ofstream(ca) << protected_server.CaPem();
          const std::string at = address(protected_server);
          Rounds figure(title, "MiB/s", reference_name, Kind::kHigher, target);
          figure.InTurns(
              11, true,
              [&] {
                return rate(ours(at, "big.rar", {"--tls", ca}));
              },
              [&] { return rate(reference(at, ca)); });
        }
        ReportFailure(name, ok);
      };

  // Over TLS, on an FTP server that requires it.
  TestFtpServer::Faults tls;
  tls.tls = true;
  protected_throughput(
      "FTPS download throughput", "FTPS download throughput (TLS required), 256 MiB",
      "curl --ssl-reqd", ">= 0.9", tls, [](const TestFtpServer& s) { return s.host(); },
      [&](const std::string& host, const std::string& ca) {
        return curl(host, "big.rar", {"--ssl-reqd", "--cacert", ca});
      });

  // Over HTTPS from nginx, against curl (HTTP/2 both, where curl has it).
  TestFtpServer::Faults web;
  web.web = true;
  protected_throughput(
      "HTTPS download throughput", "HTTPS download throughput from nginx, 256 MiB", "curl",
      ">= 0.95", web, [](const TestFtpServer& s) { return s.settings().url; },
      [&](const std::string& url, const std::string& ca) {
        const std::string out = (drive / "big.rar").string();
        Run r = Measure({"sh", "-c", "curl -s \"$@\" && exec sync -- \"$0\" \"${0%/*}\"", out,
                         "--cacert", ca, "-o", out, url + "download/big.rar"});
        Empty(drive);
        return r;
      });

  // The signature check: big.rar signed by the real minisign with a key
  // pair of its own, fetched with and without the public key.
  const fs::path pub = work / "bench.pub";
  const fs::path secret = work / "bench.key";
  const fs::path big = server.home() / TestFtpServer::kSite / "download" / "big.rar";
  std::string key_line;
  if (Quietly("minisign -G -W -p '" + pub.string() + "' -s '" + secret.string() + "'") &&
      Quietly("minisign -S -s '" + secret.string() + "' -m '" + big.string() + "'")) {
    std::string text = avendro::testing::ReadFile(pub);
    size_t start = text.find('\n') + 1;
    key_line = text.substr(start, text.find('\n', start) - start);
  }
  // The same file fetched signed and unsigned, in turns.
  auto signed_in_turns = [&](Rounds& figure, const std::string& host, bool warm_up) {
    figure.InTurns(
        7, warm_up,
        [&] {
          return seconds(ours(host, "big.rar", {"--key", key_line}));
        },
        [&] { return seconds(ours(host, "big.rar")); });
  };
  if (key_line.empty()) {
    std::printf(
        "signed download: not measured, minisign failed (tools/install-deps installs it)\n");
  } else {
    // On a 1 Gbit/s link the bytes are hashed as they arrive, in the
    // link's time; this is where a shop downloads.
    PacedServer link(server.home(), kLinkBytesPerSecond);
    if (!link.ok()) {
      std::printf("signed download at 1 Gbit/s: not measured, the paced server did not start\n");
    } else {
      ok = true;
      {
        Rounds figure("signed download at 1 Gbit/s, 256 MiB", "s", "unsigned", Kind::kLower,
                      "< 1.05");
        signed_in_turns(figure, link.host(), false);
      }
      ReportFailure("signed download at 1 Gbit/s", ok);
    }
    // On the loopback the download itself is CPU-bound, so the hashing
    // adds its own time: for information only.
    ok = true;
    {
      Rounds figure(
          "signed download on loopback, 256 MiB (no target: the hashing cannot hide behind "
          "the link)",
          "s", "unsigned", Kind::kLower, nullptr);
      signed_in_turns(figure, server.host(), true);
    }
    ReportFailure("signed download on loopback", ok);
  }
  fs::remove_all(work);
  return 0;
}
