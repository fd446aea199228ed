#include "tests/update_fixture.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace avendro::testing {

namespace fs = std::filesystem;

namespace {

fs::path FreshFolder(const std::string& stem) {
  std::random_device rd;
  fs::path folder;
  do {
    folder = fs::temp_directory_path() / (stem + std::to_string(rd()));
  } while (fs::exists(folder));
  fs::create_directories(folder);
  return folder;
}

void PrependPath(const fs::path& folder, std::string* old_path) {
  const char* path = std::getenv("PATH");
  *old_path = path != nullptr ? path : "";
  setenv("PATH", (folder.string() + ":" + *old_path).c_str(), 1);
}

}  // namespace

TestFtpServer::TestFtpServer(const Faults& faults) {
  home_ = FreshFolder("avendro-ftp-");
  fs::create_directories(home_ / kSite / "download" / "utility");

  std::vector<std::string> args = {"/usr/bin/python3",
                                   AVENDRO_SOURCE_DIR "/tools/ftp_server.py",
                                   "--home",
                                   home_.string(),
                                   "--user",
                                   kUser,
                                   "--password",
                                   kPassword,
                                   "--stall-seconds",
                                   "60",
                                   "--log",
                                   home_.string() + ".log"};
  for (const auto& name : faults.refuse) args.insert(args.end(), {"--refuse", name});
  for (const auto& name : faults.broken) args.insert(args.end(), {"--break", name});
  for (const auto& name : faults.stalled) args.insert(args.end(), {"--stall", name});
  if (faults.stall_greeting) args.push_back("--stall-greeting");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  int err = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (err != 0) {
    close(out[0]);
    throw std::runtime_error("cannot start tools/ftp_server.py");
  }

  // The server prints its port once it listens.
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0) {
    char buf[64];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("tools/ftp_server.py did not report its port");
  }
}

TestFtpServer::~TestFtpServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  fs::remove_all(home_, ec);
  fs::remove(home_.string() + ".log", ec);
}

int TestFtpServer::Count(const std::string& text, int at_least) const {
  int count = 0;
  for (int tries = 0; tries < 50; ++tries) {
    count = 0;
    std::istringstream in(ReadFile(home_.string() + ".log"));
    for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos;
    if (count >= at_least) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return count;
}

std::string TestFtpServer::host() const { return "127.0.0.1:" + std::to_string(port_); }

FtpSettings TestFtpServer::settings() const { return {host(), kUser, kPassword, kSite}; }

fs::path TestFtpServer::Put(const std::string& relative, const std::string& bytes) const {
  fs::path path = home_ / kSite / "download" / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

FakeWine::FakeWine(const TempPrefix& prefix) {
  folder_ = FreshFolder("avendro-wine-");
  fs::path script = folder_ / "wine";
  std::ofstream(script)
      << "#!/bin/sh\n"
      << "record='" << (folder_ / "record").string() << "'\n"
      << "hold=$(cat '" << (folder_ / "hold").string() << "' 2>/dev/null)\n"
      << "printf '%s\\n' \"$*\" >> \"$record\"\n"
      << "for last; do :; done\n"
      << "[ -n \"$hold\" ] || { printf 'END %s\\n' \"$last\" >> \"$record\"; exit 0; }\n"
      << "drive=$(printf '%s' \"$last\" | cut -c1 | tr 'CD' 'cd')\n"
      << "tail=$(printf '%s' \"$last\" | cut -c4- | tr '\\\\' '/')\n"
      << "file=\"" << prefix.root().string() << "/drive_$drive/$tail\"\n"
      << "before=$(cat \"$file\" 2>/dev/null)\n"
      << "sleep \"$hold\"\n"
      << "after=$(cat \"$file\" 2>/dev/null)\n"
      << "[ \"$before\" = \"$after\" ] || printf 'CHANGED %s\\n' \"$last\" >> \"$record\"\n"
      << "printf 'END %s\\n' \"$last\" >> \"$record\"\n";
  fs::permissions(script, fs::perms::owner_all);
  PrependPath(folder_, &old_path_);
}

FakeWine::~FakeWine() {
  setenv("PATH", old_path_.c_str(), 1);
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

void FakeWine::Hold(double seconds) { std::ofstream(folder_ / "hold") << seconds; }

std::vector<std::string> FakeWine::Lines(size_t ended) const {
  std::vector<std::string> lines;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    lines.clear();
    size_t ends = 0;
    std::istringstream in(ReadFile(folder_ / "record"));
    for (std::string line; std::getline(in, line);) {
      ends += line.rfind("END ", 0) == 0;
      lines.push_back(line);
    }
    if (ends >= ended) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return lines;
}

std::vector<std::string> FakeWine::Calls(size_t ended) const {
  std::vector<std::string> calls;
  for (auto& line : Lines(ended)) {
    if (line.rfind("END ", 0) != 0) calls.push_back(line);
  }
  return calls;
}

NoWine::NoWine() {
  folder_ = FreshFolder("avendro-nowine-");
  const char* path = std::getenv("PATH");
  old_path_ = path != nullptr ? path : "";
  setenv("PATH", folder_.c_str(), 1);
}

NoWine::~NoWine() {
  setenv("PATH", old_path_.c_str(), 1);
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

RunBench::RunBench(const TestFtpServer::Faults& faults)
    : server(faults),
      files(prefix.Drives()),
      remote(window, platform, ftp, modu1, server.settings()) {
  modu1.LetteraUnita = 'd';
  ftp.SetTimeLimits(std::chrono::seconds(3), std::chrono::seconds(2));
  remote.SetScriptWaitLimit(std::chrono::seconds(5));
}

const std::vector<std::string>& ClosingLines() {
  static const std::vector<std::string> lines = {"", "      ELABORAZIONE TERMINATA", "",
                                                 "****  GRAZIE PER LA GENTILE ****",
                                                 "          COLLABORAZIONE "};
  return lines;
}

}  // namespace avendro::testing
