#include "channel/https_transport.h"

#include <cctype>
#include <cstdio>

#include "channel/system_proxy.h"

namespace avendro {

namespace {

// Redirects followed before the server counts as sending us in circles.
constexpr long kMaxRedirects = 5;

std::string Trimmed(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "bytes 100-999/1000" -> 100, 999, 1000 (the total -1 for "*").
bool ParseRange(const std::string& text, int64_t* first, int64_t* last, int64_t* total) {
  long long a = 0, b = 0, t = -1;
  char tail = 0;
  if (std::sscanf(text.c_str(), "bytes %lld-%lld/%lld%c", &a, &b, &t, &tail) != 3) {
    t = -1;
    if (std::sscanf(text.c_str(), "bytes %lld-%lld/*%c", &a, &b, &tail) != 2) return false;
  }
  *first = a;
  *last = b;
  *total = t;
  return a >= 0 && b >= a && (t < 0 || b < t);
}

}  // namespace

struct HttpsCallbacks {
  static size_t OnHeader(char* data, size_t size, size_t count, void* p) {
    auto* https = static_cast<HttpsTransport*>(p);
    const size_t n = size * count;
    std::string line(data, n);
    HttpsTransport::Reply& reply = https->reply_;
    if (line.starts_with("HTTP/")) {
      reply = HttpsTransport::Reply{};
      const size_t blank = line.find(' ');
      if (blank != std::string::npos) reply.status = std::atol(line.c_str() + blank + 1);
      return n;
    }
    line = Trimmed(line);
    if (line.empty()) {
      reply.complete = true;
      // A redirect that curl follows is no answer yet.
      const bool followed = reply.status >= 300 && reply.status < 400 && !reply.location.empty();
      if (https->expected_.sink != nullptr && !followed && !https->judged_) {
        https->judged_ = true;
        if (!https->Judge()) return 0;  // curl ends the transfer before its body
      }
      return n;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return n;
    const std::string name = LowerAscii(line.substr(0, colon));
    const std::string value = Trimmed(line.substr(colon + 1));
    if (name == "content-length") {
      reply.length = std::atoll(value.c_str());
    } else if (name == "content-range") {
      reply.range = value;
    } else if (name == "content-type") {
      reply.type = LowerAscii(value);
    } else if (name == "content-encoding") {
      reply.encoding = LowerAscii(value);
    } else if (name == "etag" && !value.starts_with("W/")) {
      reply.validator = value;  // a weak one may not guard a range
    } else if (name == "last-modified" && reply.validator.empty()) {
      reply.validator = value;
    } else if (name == "location") {
      reply.location = value;
    }
    return n;
  }
};

HttpsTransport::HttpsTransport(const CancelToken& cancel) : session_(cancel) {
  session_.SetProtocol([this](CURL* c) { SetProtocolOptions(c); });
}

void HttpsTransport::SetServer(const std::string& url, const std::string& ca_pem) {
  base_ = url.ends_with("/") ? url : url + "/";
  ca_pem_ = ca_pem;
}

std::string HttpsTransport::HostOf(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string host = url.substr(start, end == std::string::npos ? end : end - start);
  const size_t at = host.rfind('@');
  return at == std::string::npos ? host : host.substr(at + 1);
}

void HttpsTransport::SetProtocolOptions(CURL* c) {
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  // A redirect to plain http would give up the certificate's proof.
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  // No Accept-Encoding: the archive's bytes are checked as they are on the
  // server (see Judge).
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, nullptr);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &HttpsCallbacks::OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(c, CURLOPT_FILETIME, 1L);
}

std::string HttpsTransport::Url(const std::string& remote) const {
  std::string url = base_;
  const std::string path = folder_ + remote;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      url += escaped;
    }
  }
  return url;
}

CURLcode HttpsTransport::Request(const std::string& url, bool fresh,
                                 CurlSession::Transfer* transfer, const std::string& range,
                                 const std::string& if_range) {
  CURL* c = session_.Handle();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, fresh ? 1L : 0L);
  if (transfer == nullptr) {
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(c, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
  curl_slist* headers = nullptr;
  if (!if_range.empty()) headers = curl_slist_append(headers, ("If-Range: " + if_range).c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  reply_ = Reply{};
  judged_ = false;
  verdict_ = FetchEnd::kDone;
  CURLcode code = session_.Perform(transfer);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(c, CURLOPT_RANGE, nullptr);
  curl_slist_free_all(headers);
  // A reply that Judge refused ends curl's request too; Judge said why.
  const bool refused = judged_ && verdict_ != FetchEnd::kDone;
  reason_ = session_.Why(code, [&](CURLcode failed) { return refused ? reason_ : Reason(failed); });
  return code;
}

bool HttpsTransport::Judge() {
  const Reply& r = reply_;
  const Expected& e = expected_;
  auto fail = [&](FetchEnd end, std::string why) {
    verdict_ = end;
    reason_ = session_.Masked(std::move(why));
    return false;
  };
  if (r.status == 404 || r.status == 410) return fail(FetchEnd::kNotFound, StatusReason("file"));
  // A range the server will not serve is a resume it refuses: the whole
  // file then, as for a 200.
  if (e.offset > 0 && r.status == 416) {
    return fail(FetchEnd::kResumeRefused,
                "il server non manda il file dal byte " + std::to_string(e.offset));
  }
  if (r.status < 200 || r.status > 299) return fail(FetchEnd::kFailed, StatusReason("file"));
  // The size and the signature hold for the bytes on the server, not for
  // a compressed form of them.
  if (!r.encoding.empty() && r.encoding != "identity") {
    return fail(FetchEnd::kFailed, "il server manda il file compresso (Content-Encoding: " +
                                       r.encoding + ") invece dei byte dell'archivio");
  }
  // A proxy's or a hotel network's login page where the archive was asked
  // for: only the signature would notice, and only with a key.
  if (r.type.starts_with("text/html")) {
    char* url = nullptr;
    curl_easy_getinfo(session_.Handle(), CURLINFO_EFFECTIVE_URL, &url);
    return fail(FetchEnd::kFailed, "il server manda una pagina web invece del file (da " +
                                       HostOf(url != nullptr ? url : base_) + ")");
  }
  if (e.offset > 0 && r.status == 200) {
    return fail(FetchEnd::kResumeRefused, "il server manda di nuovo il file intero");
  }
  const std::string said = " (Content-Range: " + (r.range.empty() ? "nessuno" : r.range) +
                           ", Content-Length: " + std::to_string(r.length) + ")";
  if (r.status == 206) {
    int64_t first = 0, last = 0, total = 0;
    const bool parsed = ParseRange(r.range, &first, &last, &total);
    const bool right = parsed && static_cast<uint64_t>(first) == e.offset &&
                       (total < 0 || last + 1 == total) && (e.whole < 0 || total == e.whole) &&
                       (r.length < 0 || r.length == last - first + 1);
    if (!right) {
      return fail(FetchEnd::kFailed,
                  "il server manda un pezzo del file diverso da quello "
                  "chiesto dal byte " +
                      std::to_string(e.offset) + said);
    }
    return true;
  }
  if (r.status != 200) return fail(FetchEnd::kFailed, StatusReason("file"));
  if (e.whole >= 0 && r.length >= 0 && r.length != e.whole) {
    return fail(FetchEnd::kFailed, "il server annuncia " + std::to_string(r.length) +
                                       " byte invece dei " + std::to_string(e.whole) +
                                       " annunciati prima");
  }
  if (r.length >= 0) e.sink->Announced(r.length);
  return true;
}

std::string HttpsTransport::StatusReason(const std::string& what) const {
  const std::string code = " (" + std::to_string(reply_.status) + ")";
  switch (reply_.status) {
    case 404:
    case 410:
      return "il " + what + " non è sul server" + code;
    case 401:
    case 403:
    case 407:
      return "il server " + HostOf(base_) + " rifiuta l'accesso" + code;
    default:
      return "il server " + HostOf(base_) + " risponde con un errore" + code;
  }
}

std::string HttpsTransport::Reason(CURLcode code) {
  // After a redirect, the host that failed may be another.
  char* last_url = nullptr;
  curl_easy_getinfo(session_.Handle(), CURLINFO_EFFECTIVE_URL, &last_url);
  const std::string host = last_url != nullptr ? HostOf(last_url) : HostOf(base_);
  const std::string said = session_.Said();
  std::string reason = session_.CommonReason(code, host);
  if (reason.empty()) {
    switch (code) {
      case CURLE_UNSUPPORTED_PROTOCOL:
        reason = "il server rimanda a un indirizzo non protetto (" + reply_.location + ")";
        break;
      case CURLE_TOO_MANY_REDIRECTS:
        reason = "il server rimanda da un indirizzo all'altro più di " +
                 std::to_string(kMaxRedirects) + " volte (" + reply_.location + ")";
        break;
      case CURLE_SEND_ERROR:
      case CURLE_RECV_ERROR:
      case CURLE_GOT_NOTHING:
      case CURLE_PARTIAL_FILE:
      case CURLE_HTTP2:
      case CURLE_HTTP2_STREAM:
        reason = "connessione interrotta" + said;
        break;
      default:
        reason = std::string(curl_easy_strerror(code)) + said;
        break;
    }
  }
  return session_.Masked(reason);
}

Status HttpsTransport::Connect() {
  reason_.clear();
  connected_ = false;
  folder_.clear();
  validators_.clear();
  if (session_.cancelled()) return Status::Error(CurlSession::kClosing, StatusCode::kCancelled);
  CURL* c = session_.Handle();
  if (c == nullptr) return Status::Error("libcurl non inizializzata");
  session_.Trust(ca_pem_);
  // Where the system names a proxy (Windows: the shop's browser settings),
  // that one; elsewhere libcurl reads the environment's variables.
  std::optional<std::string> proxy = SystemProxy(base_);
  proxy_ = proxy.value_or("");
  curl_easy_setopt(c, CURLOPT_PROXY, proxy ? proxy->c_str() : nullptr);
  if (Request(base_, /*fresh=*/true, nullptr, "", "") != CURLE_OK) {
    return Status::Error(reason_);
  }
  // A folder without an index page may well be refused or missing; a
  // server that wants a login, or fails, is of no use.
  if (reply_.status == 401 || reply_.status == 407 || reply_.status >= 500) {
    return Status::Error(StatusReason("file"));
  }
  connected_ = true;
  return Status::Ok();
}

Status HttpsTransport::ChangeFolder(const std::string& folder) {
  if (Status usable = session_.Usable(connected_); !usable.ok()) return usable;
  folder_ = CleanFolder(folder_ + folder);
  return Status::Ok();
}

Status HttpsTransport::Describe(const std::string& remote, RemoteFile* file) {
  reason_.clear();
  *file = RemoteFile{};
  if (Status usable = session_.Usable(connected_); !usable.ok()) return usable;
  const std::string url = Url(remote);
  if (Request(url, false, nullptr, "", "") != CURLE_OK) return Status::Error(reason_);
  if (reply_.status != 200) return Status::Error(StatusReason("file"));
  file->size = reply_.length;
  file->modified = session_.Number(CURLINFO_FILETIME_T);
  validators_[url] = reply_.validator;
  return Status::Ok();
}

FetchEnd HttpsTransport::Fetch(const std::string& remote, uint64_t offset, int64_t whole,
                               FetchSink& sink, std::string* reason) {
  reason_.clear();
  *reason = session_.Usable(connected_).message();
  if (!reason->empty()) return FetchEnd::kFailed;
  const std::string url = Url(remote);
  std::string range, if_range;
  if (offset > 0) {
    // Bytes of another version of the file must never be added to these:
    // the server sends the rest only while the file is the one described.
    auto known = validators_.find(url);
    if (known == validators_.end() || known->second.empty()) return FetchEnd::kResumeRefused;
    range = std::to_string(offset) + "-";
    if_range = known->second;
  }
  CurlSession::Transfer transfer;
  transfer.sink = &sink;
  expected_ = {offset, whole, &sink};
  const CURLcode code = Request(url, false, &transfer, range, if_range);
  expected_ = {};
  *reason = reason_;
  if (session_.EndedHere(transfer)) return FetchEnd::kFailed;
  if (judged_ && verdict_ != FetchEnd::kDone) return verdict_;
  if (transfer.refused) return FetchEnd::kRefused;
  if (code != CURLE_OK) return FetchEnd::kFailed;
  if (!judged_) {
    // No reply at all, or one whose headers never ended.
    *reason = "il server non ha risposto alla richiesta del file";
    return FetchEnd::kFailed;
  }
  return FetchEnd::kDone;
}

Status HttpsTransport::Disconnect() {
  if (!connected_) return Status::Error(CurlSession::kNotConnected);
  connected_ = false;
  folder_.clear();
  session_.Close();
  return Status::Ok();
}

}  // namespace avendro
