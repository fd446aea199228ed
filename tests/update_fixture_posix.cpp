#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "tests/update_fixture.h"

extern char** environ;

namespace avendro::testing {

namespace fs = std::filesystem;

namespace {

// Puts `folder` in place of the PATH (or in front of it), keeping the old one.
void SetPath(const std::string& folder, bool prepend, std::string* old_path, bool* had_path) {
  const char* path = std::getenv("PATH");
  *had_path = path != nullptr;
  *old_path = path != nullptr ? path : "";
  setenv("PATH", (prepend ? folder + ":" + *old_path : folder).c_str(), 1);
}

void RestorePath(const std::string& old_path, bool had_path) {
  if (had_path) {
    setenv("PATH", old_path.c_str(), 1);
  } else {
    unsetenv("PATH");
  }
}

}  // namespace

TestFtpServer::TestFtpServer(const Faults& faults) {
  home_ = FreshFolder("avendro-ftp-");
  fs::create_directories(home_ / kSite / "download" / "utility");
  tls_ = faults.tls || faults.tls_wrong_name || faults.web;
  web_ = faults.web;

  std::vector<std::string> args = {"/usr/bin/python3", AVENDRO_SOURCE_DIR "/tools/ftp_server.py"};
  if (web_) args[1] = AVENDRO_SOURCE_DIR "/tools/web_server.py";
  for (auto& option : Options(faults, home_.string(), home_.string() + ".log")) {
    args.push_back(option);
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = -1;
  int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (err != 0) {
    close(out[0]);
    throw std::runtime_error("cannot start tools/ftp_server.py");
  }
  server_ = pid;

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
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    throw std::runtime_error("tools/ftp_server.py did not report its port");
  }
}

TestFtpServer::~TestFtpServer() {
  if (server_ > 0) {
    kill(static_cast<pid_t>(server_), SIGTERM);
    waitpid(static_cast<pid_t>(server_), nullptr, 0);
  }
  std::error_code ec;
  fs::remove_all(home_, ec);
  fs::remove(home_.string() + ".log", ec);
  fs::remove_all(home_.string() + ".tls", ec);
}

FakeStarter::FakeStarter(const TempPrefix& prefix) {
  folder_ = FreshFolder("avendro-wine-");
  fs::path script = folder_ / "wine";
  std::ofstream(script)
      << "#!/bin/sh\n"
      << "record='" << (folder_ / "record").string() << "'\n"
      << "hold=$(cat '" << (folder_ / "hold").string() << "' 2>/dev/null)\n"
      << "code=$(cat '" << (folder_ / "exit").string() << "' 2>/dev/null)\n"
      << "for last; do :; done\n"
      << "own=${last%\\\\*}; [ \"${own#?:}\" ] || own=\"$own\\\\\"\n"
      << "[ \"$2\" = /d ] && [ \"$3\" = \"$own\" ] && shift 3 && set -- start \"$@\" ||\n"
      << "  set -- \"$@\" \"(not in its folder)\"\n"
      << "printf '%s\\n' \"$*\" >> \"$record\"\n"
      << "for last; do :; done\n"
      << "[ -n \"$hold\" ] || { printf 'END %s\\n' \"$last\" >> \"$record\"; exit ${code:-0}; }\n"
      << "drive=$(printf '%s' \"$last\" | cut -c1 | tr 'CD' 'cd')\n"
      << "tail=$(printf '%s' \"$last\" | cut -c4- | tr '\\\\' '/')\n"
      << "file=\"" << prefix.root().string() << "/drive_$drive/$tail\"\n"
      << "before=$(cat \"$file\" 2>/dev/null)\n"
      << "sleep \"$hold\"\n"
      << "after=$(cat \"$file\" 2>/dev/null)\n"
      << "[ \"$before\" = \"$after\" ] || printf 'CHANGED %s\\n' \"$last\" >> \"$record\"\n"
      << "printf 'END %s\\n' \"$last\" >> \"$record\"\n"
      << "exit ${code:-0}\n";
  fs::permissions(script, fs::perms::owner_all);
  SetPath(folder_.string(), true, &old_value_, &had_value_);
}

FakeStarter::~FakeStarter() {
  RestorePath(old_value_, had_value_);
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

// Wine starts whatever it is given; the recording one only writes it down.
std::string FakeStarter::Installer() const { return "rar installer"; }

NoStarter::NoStarter() {
  folder_ = FreshFolder("avendro-nowine-");
  SetPath(folder_.string(), false, &old_value_, &had_value_);
}

NoStarter::~NoStarter() {
  RestorePath(old_value_, had_value_);
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

int WithMounts(const std::vector<Mount>& mounts, const std::function<int()>& body) {
  const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
  pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(kNoMounts);
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " + uid + " 1";
    std::ofstream("/proc/self/gid_map") << "0 " + gid + " 1";
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(kNoMounts);
    for (const Mount& m : mounts) {
      if (mount(m.source.c_str(), m.target.c_str(), m.type.empty() ? nullptr : m.type.c_str(),
                m.type.empty() ? MS_BIND : 0, m.options.c_str()) != 0) {
        _exit(kNoMounts);
      }
    }
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return kNoMounts;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace avendro::testing
