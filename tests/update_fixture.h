#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system_posix.h"
#include "platform/launcher_posix.h"
#include "platform/platform.h"
#include "tests/test_support.h"
#include "update/ftp.h"
#include "update/remote_update.h"

namespace avendro::testing {

// Faults the test server can be told to make, for files of a given name.
struct ServerFaults {
  std::vector<std::string> refuse;   // RETR answers 550
  std::vector<std::string> broken;   // half the file, then 426
  std::vector<std::string> stalled;  // half the file, then silence
  bool stall_greeting = false;       // no greeting at all
};

// tools/ftp_server.py on 127.0.0.1 and a free port, serving a temporary home
// that holds <site>/download and <site>/download/utility. Stopped and
// removed by the destructor.
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

  // "127.0.0.1:<port>"
  std::string host() const;
  FtpSettings settings() const;
  const std::filesystem::path& home() const { return home_; }

  // How many lines of the server's session log contain `text` (waiting up
  // to a second for the log to show `at_least` of them).
  int Count(const std::string& text, int at_least = 0) const;

  // Puts a file below <site>/download: Put("vemo.rar", "...") or
  // Put("utility/wrar361it.exe", "...").
  std::filesystem::path Put(const std::string& relative, const std::string& bytes) const;

 private:
  std::filesystem::path home_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A recording "wine" first on the PATH for the life of the object. Each call
// appends one line to the record, its arguments joined by blanks, and one
// line "END <path>" when it ends. With Hold(seconds) every call stays alive
// that long and, when its script file changed meanwhile, adds a line
// "CHANGED <path>" before its end. The drive letters c and d are mapped to
// the folders of the prefix.
class FakeWine {
 public:
  explicit FakeWine(const TempPrefix& prefix);
  ~FakeWine();
  FakeWine(const FakeWine&) = delete;
  FakeWine& operator=(const FakeWine&) = delete;

  void Hold(double seconds);

  // The lines of the record once `ended` calls have ended (waiting up to
  // ten seconds for them).
  std::vector<std::string> Lines(size_t ended) const;
  // The same without the END lines.
  std::vector<std::string> Calls(size_t ended) const;

 private:
  std::filesystem::path folder_;
  std::string old_path_;
};

// A PATH without any wine for the life of the object.
class NoWine {
 public:
  NoWine();
  ~NoWine();

 private:
  std::filesystem::path folder_;
  std::string old_path_;
};

// Everything a run needs: a prefix with work drive d, the real file system
// and launcher, a recording window and a server. Short time limits.
struct RunBench {
  explicit RunBench(const TestFtpServer::Faults& faults = {});

  std::filesystem::path D(const std::string& relative) const {
    return prefix.Drive('d') / relative;
  }

  TempPrefix prefix;
  TestFtpServer server;
  PosixFileSystem files;
  UnusedProcesses processes;
  PosixLauncher launcher;
  NoDetails details;
  Platform platform{files, processes, launcher, details};
  RecordingWindow window;
  Modu1 modu1;
  Ftp ftp{files};
  RemoteUpdate remote;
};

// The five lines of the update run's common end.
const std::vector<std::string>& ClosingLines();

}  // namespace avendro::testing
