#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/transport.h"

namespace avendro {

// How the control connection is protected.
struct FtpTls {
  bool required = false;  // explicit TLS (AUTH TLS) on control and data connections
  std::string ca_pem;     // the only CA certificates trusted; empty: the system's store
};

// Transport over FTP (FTPS with TLS required), one libcurl handle whose
// control connection, opened by Connect, serves the calls that follow it.
class FtpTransport : public Transport {
 public:
  explicit FtpTransport(const CancelToken& cancel);
  ~FtpTransport() override;
  FtpTransport(const FtpTransport&) = delete;
  FtpTransport& operator=(const FtpTransport&) = delete;

  // Login values and protection of the next Connect. "host" may carry
  // ":port". With TLS required nothing, the password least of all, is sent
  // before the server's certificate has been verified.
  void SetHost(const std::string& host) { host_ = host; }
  void SetAccount(const std::string& account) { account_ = account; }
  void SetPassword(const std::string& password) { password_ = password; }
  void SetTls(FtpTls tls) { tls_ = std::move(tls); }

  // Called at most every `interval` while a call blocks.
  void SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval);
  // Connecting and logging in must end within `connect`; a call fails when
  // the server answers nothing, or a transfer brings nothing, for `stall`.
  void SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall);
  // A transfer fails when it brings fewer than `bytes_per_second` on
  // average over a stretch of `span`.
  void SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span);

  Status Connect() override;
  Status ChangeFolder(const std::string& folder) override;
  Status Describe(const std::string& remote, RemoteFile* file) override;
  FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t whole, FetchSink& sink,
                 std::string* reason) override;
  Status Store(const std::string& remote, const std::string& bytes) override;
  Status Disconnect() override;

  static constexpr char kClosing[] = "operazione interrotta: la finestra viene chiusa";

  struct Transfer;

 private:
  friend struct FtpCallbacks;

  static constexpr char kNotConnected[] = "non connesso al server";

  // One request on the current connection. `path` is relative to the
  // login directory, "" or ending in "/" for a folder.
  struct Request {
    std::string path;
    bool fresh = false;                   // a new connection
    bool close_after = false;             // QUIT after it
    bool file_times = false;              // ask MDTM
    uint64_t resume_from = 0;             // REST
    Transfer* transfer = nullptr;         // none: no data is fetched
    const std::string* upload = nullptr;  // STOR these bytes instead
    std::vector<std::string> after;       // commands once the transfer is done
  };

  bool Ready();
  void ApplyTls();
  void Tick();
  // Returns curl's code; on failure `reason_` says why.
  int Perform(const Request& request);
  std::string Url(const std::string& path) const;
  // The reason for curl's `code`, in the operator's words.
  std::string Reason(int code, const char* detail) const;
  // `text` with the password hidden where a server or libcurl can show it.
  std::string Masked(std::string text) const;
  // Keeps a reply line of the server; notes one that is no FTP reply.
  void ReplyLine(std::string line);

  const CancelToken& cancel_;
  void* curl_ = nullptr;   // CURL*
  void* multi_ = nullptr;  // CURLM*, holds the open connection
  std::string host_, account_, password_;
  FtpTls tls_;
  std::string default_ca_file_, default_ca_folder_;  // the system's store, as libcurl has it
  std::string folder_;  // current folder below the login directory, "" or "a/b/"
  bool connected_ = false;
  std::function<void()> keep_alive_;
  std::chrono::milliseconds keep_alive_interval_{50};
  std::chrono::steady_clock::time_point last_keep_alive_{};
  std::chrono::seconds connect_limit_{25};
  std::chrono::seconds stall_limit_{30};
  uint64_t slow_bytes_per_second_ = 1024;
  std::chrono::seconds slow_span_{60};
  std::string reason_;            // why the last Perform failed
  std::string last_reply_;        // the server's last reply line
  std::string open_reply_;        // the code of a multi-line reply not yet ended
  std::string not_ftp_;           // a line of the server that is no FTP reply
  Transfer* transfer_ = nullptr;  // the transfer under way, if any
};

}  // namespace avendro
