#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channel/update_server.h"
#include "platform/platform.h"
#include "tests/test_support.h"
#include "update/remote_update.h"

namespace avendro::testing {

// Faults the test server can be told to make, for files of a given name,
// and whether it speaks TLS.
struct ServerFaults {
  std::vector<std::string> refuse;          // RETR answers 550
  std::vector<std::string> broken;          // each transfer: half the file's size
                                            // (or break_after bytes), then 426,
                                            // unless the file ends first
  std::vector<std::string> stalled;         // the same with half the size, then
                                            // silence
  std::vector<std::string> shortened;       // the first half of the file, then 226
  std::vector<std::string> lengthened;      // the file and some more bytes, then 226
  std::vector<std::string> no_size;         // SIZE and MDTM answer 502
  std::vector<std::string> trickled;        // about 2 bytes a second
  int64_t break_after = 0;                  // when above 0, where `broken` breaks
  std::vector<std::string> announce_short;  // no SIZE, "(<size> bytes)" in 150, a third sent
  bool no_rest = false;                     // REST answers 502
  bool not_ftp = false;                     // greets as an SSH server does
  bool echo_password = false;               // a refused login repeats the password
  bool stall_greeting = false;              // no greeting at all
  bool tls = false;                         // AUTH TLS and PROT P required, with a
                                            // certificate for 127.0.0.1 and
                                            // localhost from a new CA (CaPem())
  bool tls_wrong_name = false;              // with tls: for other.example only
  bool web = false;                         // HTTPS instead, tools/web_server.py: nginx, or
  std::vector<std::string> web_faults;      // its own server with these faults, "KIND:NAME"
};

// tools/ftp_server.py on 127.0.0.1 and a free port, serving a temporary home
// that holds <site>/download and <site>/download/utility. Stopped and
// removed by the destructor. Under Wine a Windows test cannot start Linux's
// python, so it asks tools/ftp_server_spawner.py (its port in
// AVENDRO_FTP_SPAWNER, from the test runner) to start the server, which
// stops when the connection to the spawner ends.
class TestFtpServer {
 public:
  using Faults = ServerFaults;

  static constexpr char kUser[] = "aggiornamenti@zefirano.test";
  static constexpr char kPassword[] = "k3x9m2pq";
  static constexpr char kSite[] = "www.zefirano.test";

  explicit TestFtpServer(const Faults& faults = {});
  ~TestFtpServer();
  TestFtpServer(const TestFtpServer&) = delete;
  TestFtpServer& operator=(const TestFtpServer&) = delete;

  // "127.0.0.1:<port>"; with TLS "localhost:<port>", since Schannel (curl
  // 7.88) matches a host only against the DNS names of a certificate.
  std::string host() const;
  // To log in to this server; with TLS, trusting CaPem() only.
  ServerSettings settings() const;
  const std::filesystem::path& home() const { return home_; }

  // How many lines of the server's session log contain `text` (waiting up
  // to a second for the log to show `at_least` of them). The log has a line
  // for each login, transfer and end of session, and for each REST, SIZE
  // and MDTM with its answer: "REST 1000 350", "SIZE /path 213".
  int Count(const std::string& text, int at_least = 0) const;

  // The PEM text of the certificate authority that signed the server's
  // certificate, made for this server; empty without TLS.
  std::string CaPem() const;

  // Puts a file below <site>/download: Put("vemo.rar", "...") or
  // Put("utility/wrar361it.exe", "...").
  std::filesystem::path Put(const std::string& relative, const std::string& bytes) const;

 private:
  // The options of tools/ftp_server.py, with the home folder and log file
  // given as the server sees them.
  static std::vector<std::string> Options(const Faults& faults, const std::string& home,
                                          const std::string& log);

  std::filesystem::path home_;
  int port_ = 0;
  bool tls_ = false;
  bool web_ = false;
  intptr_t server_ = -1;  // POSIX: the server's process; Windows: the spawner's socket
};

// Records what the system's launcher starts, for the life of the object.
// Each start appends one line to the record, "start /wait /max <path>" or
// "start /wait /min <path>" after the window style (with "(not in its
// folder)" after it when not started in the folder that holds it), and one line
// "END <path>" when the started task ends. With Hold(seconds) every task
// stays alive that long and, when the file at its path changed meanwhile,
// adds a line "CHANGED <path>" before its end.
// POSIX: a recording "wine" first on the PATH; the drive letters c and d are
// mapped to the folders of the prefix. Windows: a recording program as the
// interpreter of the scripts (Win32Launcher::UseInterpreter); started as an
// installer (Installer() gives its bytes) it records itself.
class FakeStarter {
 public:
  explicit FakeStarter(const TempPrefix& prefix);
  ~FakeStarter();
  FakeStarter(const FakeStarter&) = delete;
  FakeStarter& operator=(const FakeStarter&) = delete;

  void Hold(double seconds);
  // Every task started from now on ends with `code`.
  void ExitWith(int code);

  // The lines of the record once `ended` tasks have ended (waiting up to
  // ten seconds for them).
  std::vector<std::string> Lines(size_t ended) const;
  // The same without the END lines.
  std::vector<std::string> Calls(size_t ended) const;

  // The bytes of an installer whose start gets recorded.
  std::string Installer() const;

 private:
  std::filesystem::path folder_;
  std::string old_value_;  // of the PATH (POSIX)
  bool had_value_ = false;
};

// Starting a script fails for the life of the object: POSIX, a PATH without
// any wine; Windows, an interpreter that names no program.
class NoStarter {
 public:
  NoStarter();
  ~NoStarter();
  NoStarter(const NoStarter&) = delete;
  NoStarter& operator=(const NoStarter&) = delete;

 private:
  std::filesystem::path folder_;
  std::string old_value_;
  bool had_value_ = false;
};

// Everything a run needs: a prefix with work drive d, the system's file
// system and launcher, a recording window and a server. Short time limits.
struct RunBench {
  explicit RunBench(const TestFtpServer::Faults& faults = {});

  std::filesystem::path D(const std::string& relative) const {
    return prefix.Drive('d') / relative;
  }

  TempPrefix prefix;
  TestFtpServer server;
  std::unique_ptr<FileSystem> files = SystemFileSystem(prefix);
  UnusedProcesses processes;
  std::unique_ptr<Launcher> launcher = SystemLauncher();
  NoDetails details;
  Platform platform{*files, processes, *launcher, details};
  RecordingWindow window;
  Modu1 modu1;
  UpdateServer ftp{*files};
  CancelToken closing;  // the face's: Cancel when it closes
  RemoteUpdate remote;
};

// Runs `body` in a child process that sees `mounts` ({source, target,
// type, options}; no type: a bind mount) in place of what is there, as
// root of its own user namespace. The child's exit code: `body`'s, or
// kNoMounts where none can be made (Windows, a system without user
// namespaces).
struct Mount {
  std::string source, target, type, options;
};
inline constexpr int kNoMounts = 77;
int WithMounts(const std::vector<Mount>& mounts, const std::function<int()>& body);

// The five lines of the update run's common end.
const std::vector<std::string>& ClosingLines();

// The lines without those that say a run waits for an earlier script of the
// same path: whether that one still runs by then is a matter of timing.
std::vector<std::string> WithoutScriptWaits(std::vector<std::string> lines);

}  // namespace avendro::testing
