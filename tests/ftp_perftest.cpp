// Download speed of the FTP control against the curl command-line tool, on
// the local test server. Prints both rates; asserts nothing.
//   ftp_perftest [megabytes]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/update_fixture.h"

using namespace avendro;
using namespace avendro::testing;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::atol(argv[1]) : 512;
  TempPrefix t;
  TestFtpServer server;
  {
    fs::path file = server.Put("big.rar", "");
    std::ofstream out(file, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    for (long i = 0; i < megabytes; ++i) out.write(block.data(), block.size());
  }
  const double size = static_cast<double>(megabytes) * (1 << 20);
  PosixFileSystem files(t.Drives());
  Ftp ftp(files);
  ftp.SetHost(server.host());
  ftp.SetAccount(TestFtpServer::kUser);
  ftp.SetPassword(TestFtpServer::kPassword);

  for (int round = 0; round < 2; ++round) {
    auto start = std::chrono::steady_clock::now();
    bool ok = ftp.Connect() && ftp.ChangeFolder(std::string(TestFtpServer::kSite) + "/download") &&
              ftp.Download("big.rar", "d:\\big.rar");
    std::chrono::duration<double> ours = std::chrono::steady_clock::now() - start;

    std::string command = "curl -s -o '" + (t.Drive('d') / "curl.rar").string() + "' 'ftp://" +
                          server.host() + "/" + TestFtpServer::kSite + "/download/big.rar' -u '" +
                          TestFtpServer::kUser + ":" + TestFtpServer::kPassword + "'";
    start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    std::chrono::duration<double> theirs = std::chrono::steady_clock::now() - start;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s ours %.0f MB/s, curl %s %.0f MB/s, ratio %.2f, peak memory %ld kB\n",
                ok ? "ok" : "FAILED", size / ours.count() / 1e6, rc == 0 ? "ok" : "FAILED",
                size / theirs.count() / 1e6, theirs.count() / ours.count(), usage.ru_maxrss);
    fs::remove(t.Drive('d') / "big.rar");
    fs::remove(t.Drive('d') / "curl.rar");
  }
  return 0;
}
