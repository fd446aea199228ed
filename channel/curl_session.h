#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "channel/transport.h"

namespace avendro {

// What every transport over libcurl shares: one easy handle and the multi
// handle that keeps its connection open between requests, the keep-alive
// hook that lets the window repaint while the network is slow, the time
// limits, the slow-transfer limit, the cancel token and the password that
// no reason may show. A transport hands over its protocol's options once
// (SetProtocol), sets each request's own on Handle() and calls Perform.
class CurlSession {
 public:
  explicit CurlSession(const CancelToken& cancel);
  ~CurlSession();
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  // Called at most every `interval` while a request blocks.
  void SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval);
  // Connecting must end within `connect`; a request fails when the server
  // answers nothing, or a transfer brings nothing, for `stall`.
  void SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall);
  // A transfer fails when it brings fewer than `bytes_per_second` on
  // average over a stretch of `span`.
  void SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span);
  // The password that Masked hides.
  void SetSecret(const std::string& password) { secret_ = password; }
  // The options of the transport's protocol, which hold for every request
  // it makes: applied once, when Handle() makes the handle, so that no
  // transport has to remember whether it did already. Set before the first
  // Handle().
  void SetProtocol(std::function<void(CURL*)> options) { protocol_ = std::move(options); }

  // The handles, made at the first call so that a window that never talks
  // to the server pays nothing for them; nullptr when libcurl cannot start.
  CURL* Handle();
  // A number libcurl keeps of the last request (a size, a file time); -1
  // when it has none.
  int64_t Number(CURLINFO info);
  // Trusts the certificates of `ca_pem` alone, or the system's store when
  // it is empty.
  void Trust(const std::string& ca_pem);
  // Closes the open connection, if any; the next request opens a new one.
  void Close();

  // The bytes of one request as they arrive.
  struct Transfer {
    FetchSink* sink = nullptr;
    uint64_t received = 0;
    bool refused = false;  // by the sink
    bool stalled = false;
    bool slow = false;
    // When the last bytes arrived (or the request began): curl's own speed
    // limit averages over several seconds and so ends a stalled transfer
    // late.
    std::chrono::steady_clock::time_point last_data{};
    // The stretch of time over which the speed is measured.
    std::chrono::steady_clock::time_point span_start{};
    uint64_t span_bytes = 0;
  };

  // Runs the request set up on Handle() to its end, its body into
  // `transfer` (none: the body is dropped). `stop`, when given, is asked
  // while the request runs; true ends it. On failure reason() says why when
  // the cause is the session's own (closing window, stall, slow transfer);
  // otherwise the transport explains curl's code, with message() as the
  // library's detail.
  CURLcode Perform(Transfer* transfer, const std::function<bool()>& stop = nullptr);
  const std::string& reason() const { return reason_; }
  const std::string& message() const { return message_; }
  // " (<message()>)", or "" without one: libcurl's detail after a reason.
  std::string Said() const { return message_.empty() ? "" : " (" + message_ + ")"; }
  // Why the request that Perform ended with `code` failed: the session's
  // own cause when there is one, since curl's code then only says that
  // the request was ended; otherwise `explain(code)`. "" for a success.
  std::string Why(CURLcode code, const std::function<std::string(CURLcode)>& explain) const;
  // Whether the session itself ended `transfer` (closing window, stall,
  // slow transfer): no answer of the server's is to be read into it then.
  bool EndedHere(const Transfer& transfer) const {
    return cancelled() || transfer.stalled || transfer.slow;
  }

  // The reason for the curl codes every protocol meets, naming `host`;
  // "" for the others.
  std::string CommonReason(CURLcode code, const std::string& host) const;
  // `text` with the password hidden where a server or libcurl can show it.
  std::string Masked(std::string text) const;

  bool cancelled() const { return cancel_.cancelled(); }
  // Ok while a transport that is `connected` may make a request; once the
  // window is closing, nothing more goes to the server.
  Status Usable(bool connected) const;
  std::chrono::seconds stall_limit() const { return stall_limit_; }

  static constexpr char kClosing[] = "operazione interrotta: la finestra viene chiusa";
  static constexpr char kNotConnected[] = "non connesso al server";

 private:
  friend struct CurlCallbacks;

  void Tick();
  void ApplyTimeLimits();

  const CancelToken& cancel_;
  CURL* curl_ = nullptr;
  CURLM* multi_ = nullptr;  // holds the open connection
  bool failed_start_ = false;
  std::string default_ca_file_, default_ca_folder_;  // the system's store, as libcurl has it
  std::string secret_;
  std::function<void(CURL*)> protocol_;
  std::function<void()> keep_alive_;
  std::chrono::milliseconds keep_alive_interval_{50};
  std::chrono::steady_clock::time_point last_keep_alive_{};
  std::chrono::seconds connect_limit_{25};
  std::chrono::seconds stall_limit_{30};
  uint64_t slow_bytes_per_second_ = 1024;
  std::chrono::seconds slow_span_{60};
  Transfer* transfer_ = nullptr;  // the transfer under way, if any
  const std::function<bool()>* stop_ = nullptr;
  std::string reason_;
  std::string message_;
};

// A folder below the server's root as both transports name it:
// "a/b//c/" -> "a/b/c/"; "" stays "".
std::string CleanFolder(const std::string& path);

}  // namespace avendro
