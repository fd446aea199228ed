#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "update/signature.h"

namespace avendro {

// How the control connection is protected.
struct FtpTls {
  bool required = false;  // explicit TLS (AUTH TLS) on control and data connections
  std::string ca_pem;     // trusted CA certificates; empty: the system's store
};

// The FTP client control `Ftp`: one libcurl handle that lives as long as the
// window. A failed operation's Status says why in the operator's words: the
// server's reply or the system's reason, never the password. Within one run
// the control connection opened by Connect is reused by the operations that
// follow it.
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

  // Protection of the next connections. With TLS required nothing, the
  // password least of all, is sent before the server's certificate has
  // been verified.
  void SetTls(FtpTls tls);

  // With a key, every download must come with "<name>.minisig" beside it
  // on the server, made with that key; the old file is replaced only by a
  // file whose signature holds.
  void SetSigningKey(std::optional<SigningKey> key);

  // Opens a new control connection and logs in, also when one is open; the
  // current folder becomes the login directory.
  Status Connect();

  // Changes to `folder`, relative to the current folder ("a/b" allowed).
  // Fails, leaving the current folder, when the server has no such folder.
  Status ChangeFolder(const std::string& folder);

  // Downloads `remote` from the current folder to the Windows path `local`.
  // The old file at `local` is replaced only by a complete download: of the
  // size the server announced, not empty, and signed when a key is set. An
  // interrupted download stays beside the target as a partial file that
  // the next download of the same file resumes while the server's file is
  // unchanged; partial files no resume can use are removed.
  Status Download(const std::string& remote, const std::string& local);

  // Logs out and closes the control connection.
  Status Disconnect();

  // Stops the operation under way at once and makes every later one fail:
  // the window is closing. Safe to call from the keep-alive hook.
  void Cancel();
  bool cancelled() const { return cancelled_; }

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
  // A partial file untouched this long is not resumed.
  static constexpr std::chrono::hours kPartialLifetime{24 * 7};

  struct Transfer;

 private:
  friend struct FtpCallbacks;

  // What the server tells of a file before it is fetched.
  struct RemoteFile {
    int64_t size = -1;      // SIZE, -1 unknown
    int64_t modified = -1;  // MDTM as Unix time, -1 unknown
  };

  static constexpr char kClosing[] = "operazione interrotta: la finestra viene chiusa";
  static constexpr char kNotConnected[] = "non connesso al server";
  static constexpr char kPartialSuffix[] = ".avendro-part";

  bool Ready();
  // Sets up the protection of the next connection.
  void ApplyTls();
  // Runs the keep-alive and progress hooks when their interval has passed.
  void Tick();

  // One request on the current connection. `path` is relative to the
  // login directory, "" or ending in "/" for a folder.
  struct Request {
    std::string path;
    bool fresh = false;            // a new connection
    bool close_after = false;      // QUIT after it
    bool file_times = false;       // ask MDTM
    uint64_t resume_from = 0;      // REST
    Transfer* transfer = nullptr;  // none: no data is fetched
  };
  // Returns curl's code; on failure `reason_` says why.
  int Perform(const Request& request);
  std::string Url(const std::string& path) const;
  // The reason for curl's `code`, in the operator's words.
  std::string Reason(int code, const char* detail) const;
  static Status Fail(const std::string& reason) { return Status::Error(reason); }

  // The steps of a download.
  Status FetchSignature(const std::string& remote, std::unique_ptr<SignatureCheck>* check);
  std::string PartialPath(const std::string& local, const RemoteFile& file) const;
  void RemoveLeftovers(const std::string& local, const std::string& keep);
  // Fetches the rest of `remote` into `file` and checks the whole. On
  // failure `resumable_bytes` tells whether the bytes in the file may still
  // be the beginning of the right file.
  Status FetchInto(const std::string& remote, PartialFile& file, const RemoteFile& info,
                   SignatureCheck* check, bool* resumable_bytes);

  FileSystem& files_;
  void* curl_ = nullptr;   // CURL*
  void* multi_ = nullptr;  // CURLM*, holds the open connection
  std::string host_, account_, password_;
  FtpTls tls_;
  std::optional<SigningKey> signing_key_;
  std::string folder_;  // current folder below the login directory, "" or "a/b/"
  bool connected_ = false;
  bool cancelled_ = false;
  std::function<void()> keep_alive_;
  std::function<void(uint64_t, int64_t)> progress_;
  std::chrono::milliseconds keep_alive_interval_{50};
  std::chrono::steady_clock::time_point last_keep_alive_{};
  std::chrono::seconds connect_limit_ = kConnectLimit;
  std::chrono::seconds stall_limit_ = kStallLimit;
  uint64_t slow_bytes_per_second_ = kSlowBytesPerSecond;
  std::chrono::seconds slow_span_ = kSlowSpan;
  std::string reason_;            // why the last Perform failed
  std::string last_reply_;        // the server's last reply line
  Transfer* transfer_ = nullptr;  // the transfer under way, if any
};

}  // namespace avendro
