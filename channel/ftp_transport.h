#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channel/curl_session.h"
#include "channel/transport.h"

namespace avendro {

// How the control connection is protected.
struct FtpTls {
  bool required = false;  // explicit TLS (AUTH TLS) on control and data connections
  std::string ca_pem;     // the only CA certificates trusted; empty: the system's store
};

// Transport over FTP (FTPS with TLS required), one libcurl session whose
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

  // Keep-alive hook, time limits and slow-transfer limit of the calls.
  CurlSession& session() { return session_; }

  Status Connect() override;
  Status ChangeFolder(const std::string& folder) override;
  Status Describe(const std::string& remote, RemoteFile* file) override;
  FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t whole, FetchSink& sink,
                 std::string* reason) override;
  Status Store(const std::string& remote, const std::string& bytes) override;
  Status Disconnect() override;

 private:
  friend struct FtpCallbacks;

  // One request on the current connection. `path` is relative to the
  // login directory, "" or ending in "/" for a folder.
  struct Request {
    std::string path;
    bool fresh = false;                         // a new connection
    bool close_after = false;                   // QUIT after it
    bool file_times = false;                    // ask MDTM
    uint64_t resume_from = 0;                   // REST
    CurlSession::Transfer* transfer = nullptr;  // none: no data is fetched
    const std::string* upload = nullptr;        // STOR these bytes instead
    std::vector<std::string> after;             // commands once the transfer is done
  };

  // The options of every FTP request; CurlSession sets them once.
  void SetProtocolOptions(CURL* c);
  void ApplyTls();
  // Returns curl's code; on failure `reason_` says why.
  CURLcode Perform(const Request& request);
  std::string Url(const std::string& path) const;
  // The reason for curl's `code`, in the operator's words.
  std::string Reason(CURLcode code) const;
  // Keeps a reply line of the server; notes one that is no FTP reply.
  void ReplyLine(std::string line);

  CurlSession session_;
  std::string host_, account_, password_;
  FtpTls tls_;
  std::string folder_;  // current folder below the login directory, "" or "a/b/"
  bool connected_ = false;
  std::string reason_;                // why the last Perform failed
  std::string last_reply_;            // the server's last reply line
  std::string open_reply_;            // the code of a multi-line reply not yet ended
  std::string not_ftp_;               // a line of the server that is no FTP reply
  FetchSink* announce_to_ = nullptr;  // the sink of a transfer from the file's start
};

}  // namespace avendro
