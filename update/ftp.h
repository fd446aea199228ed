#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"

namespace avendro {

// The FTP client control `Ftp`: one libcurl handle that lives as long as the
// window. Operations answer a 32-bit integer, 0 meaning failure. Within one
// run the control connection opened by Connect is reused by the operations
// that follow it.
class Ftp {
 public:
  explicit Ftp(FileSystem& files);
  ~Ftp();
  Ftp(const Ftp&) = delete;
  Ftp& operator=(const Ftp&) = delete;

  // Login values, used by the next Connect. "host" may carry ":port".
  void SetHost(const std::string& host);
  void SetAccount(const std::string& account);
  void SetPassword(const std::string& password);

  // Opens a new control connection and logs in, also when one is open; the
  // current folder becomes the login directory.
  int32_t Connect();

  // Changes to `folder`, relative to the current folder ("a/b" allowed).
  // Fails, leaving the current folder, when the server has no such folder.
  int32_t ChangeFolder(const std::string& folder);

  // Downloads `remote` from the current folder to the Windows path `local`.
  // The old file at `local` is replaced only by a complete download; on
  // failure it is left as it was and nothing else remains on disk.
  int32_t Download(const std::string& remote, const std::string& local);

  // Logs out and closes the control connection.
  int32_t Disconnect();

  // Called now and then (at most every `interval`) while an operation
  // blocks, so that the window can repaint.
  void SetKeepAlive(std::function<void()> hook,
                    std::chrono::milliseconds interval = std::chrono::milliseconds(50));

  // Time limits: connecting and logging in must end within `connect`; an
  // operation fails when the server answers nothing, or a transfer delivers
  // nothing, for `stall`.
  void SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall);

  // Why the last operation failed, for diagnostics; never holds the password.
  const std::string& last_error() const { return last_error_; }

  static constexpr std::chrono::seconds kConnectLimit{25};
  static constexpr std::chrono::seconds kStallLimit{30};

 private:
  struct Transfer;
  friend struct FtpCallbacks;

  // Runs the keep-alive hook when its interval has passed.
  bool Ready();
  void Tick();

  // One request on the current connection. `path` is relative to the
  // login directory, "" or ending in "/" for a folder.
  int Perform(const std::string& path, bool fresh, bool close_after, Transfer* transfer);
  std::string Url(const std::string& path) const;
  int32_t Fail(const std::string& what);

  FileSystem& files_;
  void* curl_ = nullptr;   // CURL*
  void* multi_ = nullptr;  // CURLM*, holds the open connection
  std::string host_, account_, password_;
  std::string folder_;  // current folder below the login directory, "" or "a/b/"
  bool connected_ = false;
  std::function<void()> keep_alive_;
  std::chrono::milliseconds keep_alive_interval_{50};
  std::chrono::steady_clock::time_point last_keep_alive_{};
  std::chrono::seconds connect_limit_ = kConnectLimit;
  std::chrono::seconds stall_limit_ = kStallLimit;
  std::string last_error_;
  Transfer* transfer_ = nullptr;  // the download under way, if any
};

}  // namespace avendro
