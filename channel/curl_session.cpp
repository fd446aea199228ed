#include "channel/curl_session.h"

#include <cctype>
#include <mutex>

namespace avendro {

namespace {

// Large reads keep the transfer at the speed of the network; memory stays
// at this one buffer whatever the file size.
constexpr long kBufferSize = 512 * 1024;

// Longest wait for the network between two calls of the keep-alive hook.
constexpr int kPollMillis = 50;

// A curl option that is a string, or none when `value` is empty.
const char* OrNone(const std::string& value) { return value.empty() ? nullptr : value.c_str(); }

CURLM* NewMulti() {
  CURLM* multi = curl_multi_init();
  // One cached connection: a fresh one pushes out the one before it.
  if (multi != nullptr) curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 1L);
  return multi;
}

}  // namespace

struct CurlCallbacks {
  static size_t OnData(char* data, size_t size, size_t count, void* p) {
    auto* transfer = static_cast<CurlSession::Transfer*>(p);
    size_t n = size * count;
    // Without a transfer the body, if any, is of no use: FTP's size and
    // time as text, which curl_easy_getinfo reads instead.
    if (transfer == nullptr) return n;
    if (!transfer->sink->Take(data, n)) {
      transfer->refused = true;
      return 0;  // curl ends the transfer with a write error
    }
    transfer->received += n;
    transfer->last_data = std::chrono::steady_clock::now();
    return n;
  }

  static int OnProgress(void* p, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* session = static_cast<CurlSession*>(p);
    session->Tick();
    if (session->cancel_.cancelled()) return 1;  // curl ends the request
    if (session->stop_ != nullptr && *session->stop_ && (*session->stop_)()) return 1;
    CurlSession::Transfer* transfer = session->transfer_;
    if (transfer == nullptr) return 0;
    auto now = std::chrono::steady_clock::now();
    if (now - transfer->last_data >= session->stall_limit_) {
      transfer->stalled = true;
      return 1;
    }
    if (now - transfer->span_start >= session->slow_span_) {
      uint64_t wanted =
          session->slow_bytes_per_second_ * static_cast<uint64_t>(session->slow_span_.count());
      if (transfer->received - transfer->span_bytes < wanted) {
        transfer->slow = true;
        return 1;
      }
      transfer->span_start = now;
      transfer->span_bytes = transfer->received;
    }
    return 0;
  }
};

CurlSession::CurlSession(const CancelToken& cancel) : cancel_(cancel) {}

CurlSession::~CurlSession() {
  // The multi handle holds the cached connection; closing it ends the
  // protocol's session (FTP says QUIT).
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
  if (curl_ != nullptr) curl_easy_cleanup(curl_);
}

CURL* CurlSession::Handle() {
  if (curl_ != nullptr && multi_ != nullptr) return curl_;
  if (failed_start_) return nullptr;
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  curl_ = curl_easy_init();
  multi_ = NewMulti();
  if (curl_ == nullptr || multi_ == nullptr) {
    failed_start_ = true;
    return nullptr;
  }
  CURL* c = curl_;
  // What the library trusts by default, so that a connection without a CA
  // of its own goes back to it after one with.
  char* value = nullptr;
  if (curl_easy_getinfo(c, CURLINFO_CAINFO, &value) == CURLE_OK && value != nullptr) {
    default_ca_file_ = value;
  }
  value = nullptr;
  if (curl_easy_getinfo(c, CURLINFO_CAPATH, &value) == CURLE_OK && value != nullptr) {
    default_ca_folder_ = value;
  }
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kBufferSize);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CurlCallbacks::OnData);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &CurlCallbacks::OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  ApplyTimeLimits();
  if (protocol_) protocol_(c);
  return curl_;
}

int64_t CurlSession::Number(CURLINFO info) {
  CURL* c = Handle();
  curl_off_t value = -1;
  if (c == nullptr || curl_easy_getinfo(c, info, &value) != CURLE_OK) return -1;
  return value;
}

Status CurlSession::Usable(bool connected) const {
  if (cancelled()) return Status::Error(kClosing, StatusCode::kCancelled);
  if (!connected) return Status::Error(kNotConnected);
  return Status::Ok();
}

std::string CurlSession::Why(CURLcode code,
                             const std::function<std::string(CURLcode)>& explain) const {
  if (!reason_.empty()) return reason_;
  return code == CURLE_OK ? "" : explain(code);
}

void CurlSession::Close() {
  if (multi_ == nullptr) return;
  curl_multi_cleanup(multi_);
  multi_ = NewMulti();
  if (multi_ == nullptr) failed_start_ = true;
}

void CurlSession::SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval) {
  keep_alive_ = std::move(hook);
  keep_alive_interval_ = interval;
}

void CurlSession::SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall) {
  connect_limit_ = connect;
  stall_limit_ = stall;
  ApplyTimeLimits();
}

void CurlSession::ApplyTimeLimits() {
  if (curl_ == nullptr) return;
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connect_limit_.count()));
  curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(stall_limit_.count()));
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall_limit_.count()));
}

void CurlSession::SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span) {
  slow_bytes_per_second_ = bytes_per_second;
  slow_span_ = span;
}

void CurlSession::Tick() {
  auto now = std::chrono::steady_clock::now();
  if (now - last_keep_alive_ < keep_alive_interval_) return;
  last_keep_alive_ = now;
  if (keep_alive_) keep_alive_();
}

void CurlSession::Trust(const std::string& ca_pem) {
  CURL* c = Handle();
  if (c == nullptr) return;
  if (ca_pem.empty()) {
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, nullptr);
    curl_easy_setopt(c, CURLOPT_CAINFO, OrNone(default_ca_file_));
    curl_easy_setopt(c, CURLOPT_CAPATH, OrNone(default_ca_folder_));
  } else {
    // The built-in CA alone: OpenSSL adds the library's CA file and folder
    // to the blob, so any CA of the system's store would be taken too.
    // Schannel checks a blob against it alone (an exclusive root store).
    curl_blob blob{const_cast<char*>(ca_pem.data()), ca_pem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
    curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
  }
  // A vendor's own CA seldom publishes revocation lists; Windows then
  // cannot tell and would refuse every certificate. A certificate known to
  // be revoked is still refused.
  curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
}

CURLcode CurlSession::Perform(Transfer* transfer, const std::function<bool()>& stop) {
  reason_.clear();
  message_.clear();
  CURL* c = Handle();
  if (c == nullptr) {
    reason_ = "libcurl non inizializzata";
    return CURLE_FAILED_INIT;
  }
  curl_easy_setopt(c, CURLOPT_WRITEDATA, transfer);
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
  transfer_ = transfer;
  stop_ = &stop;
  if (transfer != nullptr) {
    transfer->last_data = transfer->span_start = std::chrono::steady_clock::now();
  }
  auto stopped = [&] { return stop && stop(); };

  // Driven step by step so that the window repaints also while the server
  // is silent.
  CURLcode code = CURLE_FAILED_INIT;
  if (curl_multi_add_handle(multi_, c) == CURLM_OK) {
    int running = 1;
    while (running > 0 && !stopped()) {
      if (curl_multi_perform(multi_, &running) != CURLM_OK) break;
      if (running == 0 || stopped()) break;
      if (curl_multi_poll(multi_, nullptr, 0, kPollMillis, nullptr) != CURLM_OK) break;
      Tick();
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == c) code = msg->data.result;
    }
    curl_multi_remove_handle(multi_, c);  // ends a request still under way
  }
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
  transfer_ = nullptr;
  stop_ = nullptr;
  message_ = Masked(message);
  if (cancel_.cancelled()) {
    reason_ = kClosing;
  } else if (transfer != nullptr && transfer->stalled) {
    reason_ = "nessun dato dal server per " + std::to_string(stall_limit_.count()) + " s";
  } else if (transfer != nullptr && transfer->slow) {
    reason_ = "trasferimento troppo lento: meno di " + std::to_string(slow_bytes_per_second_) +
              " byte al secondo per " + std::to_string(slow_span_.count()) + " s";
  }
  return code;
}

std::string CurlSession::CommonReason(CURLcode code, const std::string& host) const {
  const std::string said = message_.empty() ? "" : " (" + message_ + ")";
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "server " + host + " sconosciuto" + said;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "proxy sconosciuto" + said;
    case CURLE_COULDNT_CONNECT:
      return "il server " + host + " non accetta connessioni" + said;
    case CURLE_OPERATION_TIMEDOUT:
      return "il server " + host + " non risponde" + said;
    case CURLE_PEER_FAILED_VERIFICATION:
      return "il certificato del server non è valido" + said;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
      return "connessione protetta non riuscita" + said;
    default:
      return "";
  }
}

// A server may repeat what it was sent, anywhere in a reply ("530 bad
// password …"), and libcurl may show a URL. A password of kMaskEverywhere
// characters or more is hidden wherever it stands; a shorter one only after
// "PASS " and between "user:" and "@", so that it does not blank out
// ordinary words.
std::string CurlSession::Masked(std::string text) const {
  constexpr size_t kMaskEverywhere = 4;
  if (secret_.empty()) return text;
  if (secret_.size() >= kMaskEverywhere) {
    for (size_t at = text.find(secret_); at != std::string::npos; at = text.find(secret_, at + 3))
      text.replace(at, secret_.size(), "***");
    return text;
  }
  auto hide = [&](const std::string& before, const std::string& after) {
    for (size_t at = 0; at + before.size() + secret_.size() + after.size() <= text.size();) {
      bool found = true;
      for (size_t i = 0; i < before.size() && found; ++i) {
        found = std::toupper(static_cast<unsigned char>(text[at + i])) == before[i];
      }
      const size_t start = at + before.size();
      found = found && text.compare(start, secret_.size(), secret_) == 0 &&
              text.compare(start + secret_.size(), after.size(), after) == 0;
      if (found) text.replace(start, secret_.size(), "***");
      at = found ? start + 3 : at + 1;
    }
  };
  hide("PASS ", "");
  hide(":", "@");
  return text;
}

std::string CleanFolder(const std::string& path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) out += path.substr(start, end - start) + "/";
    start = end + 1;
  }
  return out;
}

}  // namespace avendro
