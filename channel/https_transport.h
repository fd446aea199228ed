#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "channel/curl_session.h"
#include "channel/transport.h"

namespace avendro {

// Transport over HTTPS: any web server, mirror or CDN that serves the
// update tree below one URL. The certificate is always verified; redirects
// are followed to https only; one connection (HTTP/2 where the server offers
// it) serves every request from Connect to Disconnect. Nothing is stored.
class HttpsTransport : public Transport {
 public:
  explicit HttpsTransport(const CancelToken& cancel);
  HttpsTransport(const HttpsTransport&) = delete;
  HttpsTransport& operator=(const HttpsTransport&) = delete;

  // "https://host[:port]/path/" and the only CA certificates trusted
  // (empty: the system's store), for the next Connect.
  void SetServer(const std::string& url, const std::string& ca_pem);

  // Keep-alive hook, time limits and slow-transfer limit of the calls.
  CurlSession& session() { return session_; }

  // The proxy that the system's settings chose at the last Connect; "" for
  // none, or for libcurl's own choice from the environment's variables.
  const std::string& proxy() const { return proxy_; }

  // "host[:port]" of `url`.
  static std::string HostOf(const std::string& url);

  // The server does not say whether a folder exists without a listing, so
  // Connect only proves that it answers and ChangeFolder always succeeds;
  // a missing folder shows as files not on the server.
  Status Connect() override;
  Status ChangeFolder(const std::string& folder) override;
  Status Describe(const std::string& remote, RemoteFile* file) override;
  FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t whole, FetchSink& sink,
                 std::string* reason) override;
  Status Disconnect() override;

  // The headers of the reply under way (of the last one after redirects).
  struct Reply {
    long status = 0;
    int64_t length = -1;    // Content-Length
    std::string range;      // Content-Range
    std::string encoding;   // Content-Encoding
    std::string type;       // Content-Type
    std::string validator;  // ETag, or else Last-Modified
    std::string location;   // Location
    bool complete = false;  // the blank line after the headers came
  };

 private:
  friend struct HttpsCallbacks;

  // The options of every HTTPS request; CurlSession sets them once.
  void SetProtocolOptions(CURL* c);
  std::string Url(const std::string& remote) const;
  // HEAD (no sink) or GET of `url`; `range` "from-" or "". Returns curl's
  // code; on failure `reason_` says why.
  CURLcode Request(const std::string& url, bool fresh, CurlSession::Transfer* transfer,
                   const std::string& range, const std::string& if_range);
  // Checks the final reply's headers before any byte of its body reaches
  // the sink; false ends the transfer with `verdict_` saying why.
  bool Judge();
  // The reason for curl's `code`, in the operator's words.
  std::string Reason(CURLcode code);
  // The status of a reply that is no success, in the operator's words.
  std::string StatusReason(const std::string& what) const;

  CurlSession session_;
  std::string base_;  // the URL, ending in "/"
  std::string ca_pem_;
  std::string proxy_;
  std::string folder_;  // below the URL, "" or "a/b/"
  bool connected_ = false;
  std::map<std::string, std::string> validators_;  // URL -> validator from Describe
  Reply reply_;
  // The fetch under way: where it starts, the whole size, its sink.
  struct Expected {
    uint64_t offset = 0;
    int64_t whole = -1;
    FetchSink* sink = nullptr;
  };
  Expected expected_;
  bool judged_ = false;
  FetchEnd verdict_ = FetchEnd::kDone;  // of Judge, kDone when the reply is right
  std::string reason_;
};

}  // namespace avendro
