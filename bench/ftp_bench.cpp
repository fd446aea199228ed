// Download speed and memory of the FTP control against the curl tool, on our
// test server at 127.0.0.1:
//   ftp_bench                   prints the two figures
//   ftp_bench fetch HOST FOLDER FILE DIR   one download (the measured child)
// Each download runs in a process of its own, so that its wall time and its
// peak resident memory are its own.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file_system_posix.h"
#include "tests/update_fixture.h"
#include "update/ftp.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using avendro::testing::TestFtpServer;

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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void MakeFile(const fs::path& path, long mebibytes) {
  std::ofstream out(path, std::ios::binary);
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
  for (long i = 0; i < mebibytes; ++i)
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

int Fetch(const std::string& host, const std::string& folder, const std::string& file,
          const std::string& dir) {
  avendro::DriveMap drives;
  drives.Set('d', dir);
  avendro::PosixFileSystem files(drives);
  avendro::Ftp ftp(files);
  ftp.SetHost(host);
  ftp.SetAccount(TestFtpServer::kUser);
  ftp.SetPassword(TestFtpServer::kPassword);
  bool ok =
      ftp.Connect() != 0 && ftp.ChangeFolder(folder) != 0 && ftp.Download(file, "d:\\" + file) != 0;
  ftp.Disconnect();
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 6 && std::strcmp(argv[1], "fetch") == 0)
    return Fetch(argv[2], argv[3], argv[4], argv[5]);

  TestFtpServer server;
  const std::string folder = std::string(TestFtpServer::kSite) + "/download";
  for (auto [name, size] : {std::pair{"big.rar", 256L}, {"small.rar", 16L}, {"huge.rar", 512L}}) {
    MakeFile(server.Put(name, ""), size);
  }
  fs::path dir = fs::temp_directory_path() / ("avendro-ftpbench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string self = fs::canonical("/proc/self/exe").string();
  auto ours = [&](const std::string& file) {
    Run r = Measure({self, "fetch", server.host(), folder, file, dir.string()});
    fs::remove(dir / file);
    return r;
  };
  auto curl = [&](const std::string& file) {
    Run r = Measure({"curl", "-s", "-o", (dir / file).string(), "-u",
                     std::string(TestFtpServer::kUser) + ":" + TestFtpServer::kPassword,
                     "ftp://" + server.host() + "/" + folder + "/" + file});
    fs::remove(dir / file);
    return r;
  };

  // Throughput: interleaved, median of five, after one warm-up of each.
  const double mib = 256.0;
  ours("big.rar");
  curl("big.rar");
  std::vector<double> a, b;
  bool ok = true;
  for (int i = 0; i < 5; ++i) {
    Run x = ours("big.rar");
    Run y = curl("big.rar");
    ok = ok && x.ok && y.ok;
    a.push_back(mib / x.seconds);
    b.push_back(mib / y.seconds);
  }
  std::printf(
      "download throughput, 256 MiB%s: %.0f MiB/s vs curl %.0f MiB/s ratio %.2f (target >= 0.95)\n",
      ok ? "" : " (A DOWNLOAD FAILED)", Median(a), Median(b), Median(a) / Median(b));

  // Memory: the peak of a 512 MiB download against that of a 16 MiB one.
  Run small = ours("small.rar");
  Run huge = ours("huge.rar");
  Run curl_huge = curl("huge.rar");
  std::printf(
      "download peak memory: 512 MiB file %.1f MiB vs 16 MiB file %.1f MiB difference "
      "%.2f MiB (target < 4; curl on 512 MiB: %.1f MiB)%s\n",
      huge.peak_kib / 1024.0, small.peak_kib / 1024.0, (huge.peak_kib - small.peak_kib) / 1024.0,
      curl_huge.peak_kib / 1024.0, small.ok && huge.ok ? "" : " (A DOWNLOAD FAILED)");
  fs::remove_all(dir);
  return 0;
}
