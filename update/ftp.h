#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "update/checked_download.h"
#include "update/ftp_transport.h"
#include "update/signature.h"
#include "update/transport.h"

namespace avendro {

// The FTP client control `Ftp`: the update server as the window and the runs
// see it, one FtpTransport and the CheckedDownload over it, living as long
// as the window. A failed operation's Status says why in the operator's
// words: the server's reply or the system's reason, never the password.
// Within one run the control connection opened by Connect is reused by the
// operations that follow it.
class Ftp {
 public:
  explicit Ftp(FileSystem& files);
  // Over another transport (tests): the login values, protection and limits
  // below then reach the unused FTP transport only.
  Ftp(FileSystem& files, Transport& transport);
  Ftp(const Ftp&) = delete;
  Ftp& operator=(const Ftp&) = delete;

  // Login values, used by the next Connect. "host" may carry ":port".
  void SetHost(const std::string& host) { transport_.SetHost(host); }
  void SetAccount(const std::string& account) { transport_.SetAccount(account); }
  void SetPassword(const std::string& password) { transport_.SetPassword(password); }

  // Protection of the next connections. With TLS required nothing, the
  // password least of all, is sent before the server's certificate has
  // been verified.
  void SetTls(FtpTls tls) { transport_.SetTls(std::move(tls)); }

  // See CheckedDownload::SetSigningKey.
  void SetSigningKey(std::optional<SigningKey> key) { download_.SetSigningKey(std::move(key)); }

  // Opens a new control connection and logs in, also when one is open; the
  // current folder becomes the login directory.
  Status Connect();

  // Changes to `folder`, relative to the current folder ("a/b" allowed).
  // Fails, leaving the current folder, when the server has no such folder.
  Status ChangeFolder(const std::string& folder);

  // Downloads `remote` from the current folder to the Windows path `local`;
  // see CheckedDownload::Download.
  Status Download(const std::string& remote, const std::string& local,
                  ArchiveIdentity* got = nullptr);

  // See CheckedDownload::Identify.
  Status Identify(const std::string& remote, const std::string& local, ArchiveIdentity* identity);

  // Stores `bytes` as `remote` in the current folder; see Transport::Store.
  Status Store(const std::string& remote, const std::string& bytes);

  // Logs out and closes the control connection.
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
  void SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall) {
    transport_.SetTimeLimits(connect, stall);
  }

  // A transfer fails when it brings fewer than `bytes_per_second` on
  // average over a stretch of `span`.
  void SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span) {
    transport_.SetSlowLimit(bytes_per_second, span);
  }

  static constexpr std::chrono::seconds kConnectLimit{25};
  static constexpr std::chrono::seconds kStallLimit{30};
  static constexpr uint64_t kSlowBytesPerSecond = 1024;
  static constexpr std::chrono::seconds kSlowSpan{60};
  static constexpr std::chrono::hours kPartialLifetime = CheckedDownload::kPartialLifetime;

 private:
  static constexpr char kNotConnected[] = "non connesso al server";

  void Tick();

  CancelToken cancel_;
  FtpTransport transport_{cancel_};
  Transport& channel_;  // transport_, or the one given
  CheckedDownload download_;
  bool connected_ = false;
  std::function<void()> keep_alive_;
  std::function<void(uint64_t, int64_t)> progress_;
};

}  // namespace avendro
