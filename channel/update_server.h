#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "channel/checked_download.h"
#include "channel/ftp_transport.h"
#include "channel/https_transport.h"
#include "channel/signature.h"
#include "channel/transport.h"
#include "platform/file_system.h"

namespace avendro {

// Where the update server is and how to reach it, as the build sets it.
struct ServerAddress {
  std::string url;            // "https://host[:port]/path/": a web server; "": the FTP server
  std::string host;           // the FTP server, maybe with ":port"
  std::string user;           // the FTP account
  std::string password;       // its password
  bool tls_required = false;  // FTP: explicit TLS on the control and data connections
  std::string ca_pem;         // the only CA certificates trusted; "": the system's store

  // The server as the log names it: the FTP host, or the URL's host[:port].
  std::string shown_host() const;
};

// The update server as the window and the runs see it (the window's
// control `Ftp`): the transport the address asks for and the
// CheckedDownload over it, living as long as the window. A failed
// operation's Status says why in the operator's words: the server's reply
// or the system's reason, never the password. Within one run the
// connection opened by Connect is reused by the operations that follow it.
class UpdateServer {
 public:
  explicit UpdateServer(FileSystem& files);
  // Over another transport (tests): the address, protection and limits
  // below then reach the unused transports only.
  UpdateServer(FileSystem& files, Transport& transport);
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  // Where the next Connect goes, and how it logs in.
  void SetAddress(const ServerAddress& address);

  // The FTP server's login values alone, used by the next Connect. "host"
  // may carry ":port". With TLS required nothing, the password least of
  // all, is sent before the server's certificate has been verified.
  void SetHost(const std::string& host);
  void SetAccount(const std::string& account) { ftp_.SetAccount(account); }
  void SetPassword(const std::string& password) { ftp_.SetPassword(password); }
  void SetTls(FtpTls tls) { ftp_.SetTls(std::move(tls)); }

  // The work drive, whose work folder keeps the times of the signatures
  // accepted there (see CheckedDownload::SetStateFile).
  void SetWorkDrive(char letter);

  // See CheckedDownload::SetSigningKey.
  void SetSigningKey(std::optional<SigningKey> key) { download_.SetSigningKey(std::move(key)); }

  // Opens a new connection (and logs in), also when one is open; the
  // current folder becomes the login directory (the URL's folder).
  Status Connect();

  // The proxy the last Connect goes through when the system chose one; ""
  // for none, or for the one of the environment's variables.
  const std::string& proxy() const { return https_.proxy(); }

  // Changes to `folder`, relative to the current folder ("a/b" allowed).
  // Fails, leaving the current folder, when the server has no such folder.
  Status ChangeFolder(const std::string& folder);

  // Downloads `remote` from the current folder to the Windows path `local`;
  // see CheckedDownload::Download.
  Status Download(const std::string& remote, const std::string& local,
                  ArchiveIdentity* got = nullptr);

  // See CheckedDownload::Identify.
  Status Identify(const std::string& remote, ArchiveIdentity* identity);

  // Stores `bytes` as `remote` in the current folder; see Transport::Store.
  Status Store(const std::string& remote, const std::string& bytes);

  // Logs out and closes the connection.
  Status Disconnect();

  // Stops the operation under way at once and makes every later one fail:
  // the window is closing. Safe to call from the keep-alive hook.
  void Cancel() { cancel_.Cancel(); }
  bool cancelled() const { return cancel_.cancelled(); }
  // The same, for whoever needs only to stop the transfers.
  CancelToken& cancel_token() { return cancel_; }

  // Called now and then (at most every `interval`) while an operation
  // blocks, so that the window can repaint.
  void SetKeepAlive(std::function<void()> hook,
                    std::chrono::milliseconds interval = std::chrono::milliseconds(50));

  // Called with the bytes of the file so far and its size (-1 when the
  // server does not say) while a download runs, as often as the keep-alive
  // hook.
  void SetProgress(std::function<void(uint64_t done, int64_t total)> hook);

  // Time limits: connecting and logging in must end within `connect`; an
  // operation fails when the server answers nothing, or a transfer delivers
  // nothing, for `stall`.
  void SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall);

  // A transfer fails when it brings fewer than `bytes_per_second` on
  // average over a stretch of `span`.
  void SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span);

  static constexpr std::chrono::seconds kConnectLimit{25};
  static constexpr std::chrono::seconds kStallLimit{30};
  static constexpr uint64_t kSlowBytesPerSecond = 1024;
  static constexpr std::chrono::seconds kSlowSpan{60};
  static constexpr std::chrono::hours kPartialLifetime = CheckedDownload::kPartialLifetime;

 private:
  static constexpr char kNotConnected[] = "non connesso al server";

  // The transport of the address, seen by the download as one.
  class Chosen : public Transport {
   public:
    explicit Chosen(Transport& first) : to(&first) {}
    Status Connect() override { return to->Connect(); }
    Status ChangeFolder(const std::string& folder) override { return to->ChangeFolder(folder); }
    Status Describe(const std::string& remote, RemoteFile* file) override {
      return to->Describe(remote, file);
    }
    FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t whole, FetchSink& sink,
                   std::string* reason) override {
      return to->Fetch(remote, offset, whole, sink, reason);
    }
    Status Store(const std::string& remote, const std::string& bytes) override {
      return to->Store(remote, bytes);
    }
    Status Disconnect() override { return to->Disconnect(); }
    Transport* to;
  };

  void Tick();
  void ForEachSession(const std::function<void(CurlSession&)>& apply);

  CancelToken cancel_;
  FtpTransport ftp_{cancel_};
  HttpsTransport https_{cancel_};
  bool given_ = false;  // over the transport handed to the constructor
  Chosen channel_;
  CheckedDownload download_;
  bool connected_ = false;
  std::function<void()> keep_alive_;
  std::function<void(uint64_t, int64_t)> progress_;
};

}  // namespace avendro
