#include "update/ftp_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace avendro {

namespace {

// Large reads keep the transfer at the speed of the network; memory stays
// at this one buffer whatever the file size.
constexpr long kBufferSize = 512 * 1024;

// Longest wait for the network between two calls of the keep-alive hook.
constexpr int kPollMillis = 50;

// The longest piece of a server's line that a reason quotes.
constexpr size_t kQuoted = 80;

CURL* Handle(void* curl) { return static_cast<CURL*>(curl); }

// "a/b//c/" -> "a/b/c/"; "" stays "".
std::string Folder(const std::string& path) {
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

bool Digits(const std::string& text, size_t from, size_t count) {
  if (text.size() < from + count) return false;
  for (size_t i = from; i < from + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// The size in a transfer's reply, "150 Opening BINARY mode data connection
// for x.rar (3000000 bytes)", or -1.
int64_t AnnouncedSize(const std::string& line) {
  const size_t end = line.rfind(" bytes)");
  if (end == std::string::npos) return -1;
  size_t start = end;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(line[start - 1]))) --start;
  if (start == end || start == 0 || line[start - 1] != '(' || end - start > 18) return -1;
  return std::stoll(line.substr(start, end - start));
}

// A curl option that is a string, or none when `value` is empty.
const char* OrNone(const std::string& value) { return value.empty() ? nullptr : value.c_str(); }

}  // namespace

struct FtpTransport::Transfer {
  FetchSink* sink = nullptr;
  uint64_t offset = 0;  // where the transfer starts in the file
  uint64_t received = 0;
  bool refused = false;  // by the sink
  bool stalled = false;
  bool slow = false;
  // When the last bytes arrived (or the request began): curl's own speed
  // limit averages over several seconds and so ends a stalled transfer late.
  std::chrono::steady_clock::time_point last_data = std::chrono::steady_clock::now();
  // The stretch of time over which the speed is measured.
  std::chrono::steady_clock::time_point span_start = last_data;
  uint64_t span_bytes = 0;
};

struct FtpCallbacks {
  static size_t OnData(char* data, size_t size, size_t count, void* p) {
    auto* transfer = static_cast<FtpTransport::Transfer*>(p);
    size_t n = size * count;
    // Without a transfer curl hands over only what it tells of a file (size,
    // time) as text; that is read with curl_easy_getinfo instead.
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
    auto* ftp = static_cast<FtpTransport*>(p);
    ftp->Tick();
    if (ftp->cancel_.cancelled() || !ftp->not_ftp_.empty()) return 1;  // curl ends the request
    FtpTransport::Transfer* transfer = ftp->transfer_;
    if (transfer == nullptr) return 0;
    auto now = std::chrono::steady_clock::now();
    if (now - transfer->last_data >= ftp->stall_limit_) {
      transfer->stalled = true;
      return 1;
    }
    if (now - transfer->span_start >= ftp->slow_span_) {
      uint64_t wanted =
          ftp->slow_bytes_per_second_ * static_cast<uint64_t>(ftp->slow_span_.count());
      if (transfer->received - transfer->span_bytes < wanted) {
        transfer->slow = true;
        return 1;
      }
      transfer->span_start = now;
      transfer->span_bytes = transfer->received;
    }
    return 0;
  }

  // The bytes of a STOR, from the string the request names.
  static size_t OnRead(char* buffer, size_t size, size_t count, void* p) {
    auto* upload = static_cast<std::pair<const std::string*, size_t>*>(p);
    const size_t n = std::min(size * count, upload->first->size() - upload->second);
    std::copy_n(upload->first->data() + upload->second, n, buffer);
    upload->second += n;
    return n;
  }

  // The same text, as headers.
  static size_t OnHeader(char*, size_t size, size_t count, void*) { return size * count; }

  // The server's replies, one line at a time.
  static int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* p) {
    if (type == CURLINFO_HEADER_IN) static_cast<FtpTransport*>(p)->ReplyLine({data, size});
    return 0;
  }
};

void FtpTransport::ReplyLine(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  const bool coded = Digits(line, 0, 3) && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
  if (!open_reply_.empty()) {
    // Inside a multi-line reply any text goes, up to "<code> ".
    if (coded && line.compare(0, 3, open_reply_) == 0 && line[3] != '-') open_reply_.clear();
    return;
  }
  if (!coded) {
    // A greeting or a reply that is no FTP: a web or mail server, an SSH
    // daemon. curl would wait for a reply line until the time limit.
    if (not_ftp_.empty()) not_ftp_ = line.empty() ? "(riga vuota)" : line.substr(0, kQuoted);
    return;
  }
  if (line.size() > 3 && line[3] == '-') open_reply_ = line.substr(0, 3);
  last_reply_ = line;
  if (transfer_ != nullptr && transfer_->offset == 0 &&
      (line.starts_with("150") || line.starts_with("125"))) {
    const int64_t size = AnnouncedSize(line);
    if (size >= 0) transfer_->sink->Announced(size);
  }
}

FtpTransport::FtpTransport(const CancelToken& cancel) : cancel_(cancel) {}

// The handles are made at the first connect, so that a window that never
// talks to the server pays nothing for them; they then live as long as the
// object.
bool FtpTransport::Ready() {
  if (curl_ != nullptr && multi_ != nullptr) return true;
  if (curl_ != nullptr || multi_ != nullptr) return false;  // a failed start
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  curl_ = curl_easy_init();
  multi_ = curl_multi_init();
  CURL* c = Handle(curl_);
  if (c == nullptr || multi_ == nullptr) return false;
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
  curl_multi_setopt(static_cast<CURLM*>(multi_), CURLMOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // One cached connection: a fresh login pushes out the one before it.
  curl_easy_setopt(c, CURLOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kBufferSize);
  // The caller checks the size. curl would otherwise ask SIZE again before
  // each transfer, cut a longer file to it quietly, and count a resume
  // (REST said by us) as a short file. The size in the transfer's own reply
  // reaches the sink through ReplyLine.
  curl_easy_setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &FtpCallbacks::OnData);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &FtpCallbacks::OnHeader);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &FtpCallbacks::OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  // The dialogue goes through OnDebug only, which keeps the server's replies.
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &FtpCallbacks::OnDebug);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, this);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  SetTimeLimits(connect_limit_, stall_limit_);
  return true;
}

FtpTransport::~FtpTransport() {
  // The multi handle holds the cached connection; closing it says QUIT.
  if (multi_ != nullptr) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  if (curl_ != nullptr) curl_easy_cleanup(Handle(curl_));
}

void FtpTransport::SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval) {
  keep_alive_ = std::move(hook);
  keep_alive_interval_ = interval;
}

void FtpTransport::SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall) {
  connect_limit_ = connect;
  stall_limit_ = stall;
  CURL* c = Handle(curl_);
  if (c == nullptr) return;
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connect.count()));
  curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(stall.count()));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall.count()));
}

void FtpTransport::SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span) {
  slow_bytes_per_second_ = bytes_per_second;
  slow_span_ = span;
}

void FtpTransport::Tick() {
  auto now = std::chrono::steady_clock::now();
  if (now - last_keep_alive_ < keep_alive_interval_) return;
  last_keep_alive_ = now;
  if (keep_alive_) keep_alive_();
}

std::string FtpTransport::Url(const std::string& path) const {
  std::string url = "ftp://" + host_ + "/";
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    bool folder = end != std::string::npos;
    if (!folder) end = path.size();
    std::string part = path.substr(start, end - start);
    char* escaped = curl_easy_escape(Handle(curl_), part.data(), static_cast<int>(part.size()));
    if (escaped != nullptr) {
      url += escaped;
      curl_free(escaped);
    }
    if (folder) url += "/";
    start = end + 1;
  }
  return url;
}

void FtpTransport::ApplyTls() {
  CURL* c = Handle(curl_);
  curl_easy_setopt(
      c, CURLOPT_USE_SSL,
      tls_.required ? static_cast<long>(CURLUSESSL_ALL) : static_cast<long>(CURLUSESSL_NONE));
  curl_easy_setopt(c, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
  if (tls_.ca_pem.empty()) {
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, nullptr);
    curl_easy_setopt(c, CURLOPT_CAINFO, OrNone(default_ca_file_));
    curl_easy_setopt(c, CURLOPT_CAPATH, OrNone(default_ca_folder_));
  } else {
    // The built-in CA alone: OpenSSL adds the library's CA file and folder
    // to the blob, so any CA of the system's store would be taken too.
    // Schannel checks a blob against it alone (an exclusive root store).
    curl_blob blob{tls_.ca_pem.data(), tls_.ca_pem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
    curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
  }
  // A vendor's own CA seldom publishes revocation lists; Windows then
  // cannot tell and would refuse every certificate. A certificate known to
  // be revoked is still refused.
  curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
}

int FtpTransport::Perform(const Request& request) {
  CURL* c = Handle(curl_);
  CURLM* multi = static_cast<CURLM*>(multi_);
  if (c == nullptr || multi == nullptr) return CURLE_FAILED_INIT;
  Transfer* transfer = request.transfer;
  std::string url = Url(request.path);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, request.fresh ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_FORBID_REUSE, request.close_after ? 1L : 0L);
  // Without a body curl only logs in and walks into the folder of `path`,
  // and for a file asks its size (and time) without fetching it.
  curl_easy_setopt(c, CURLOPT_NOBODY, transfer == nullptr ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_FILETIME, request.file_times ? 1L : 0L);
  // A resume says REST itself: curl's own resume needs its size check,
  // which is off (see Ready).
  curl_slist* rest = nullptr;
  if (request.resume_from > 0) {
    rest = curl_slist_append(nullptr, ("REST " + std::to_string(request.resume_from)).c_str());
  }
  curl_easy_setopt(c, CURLOPT_PREQUOTE, rest);
  curl_slist* after = nullptr;
  for (const std::string& command : request.after)
    after = curl_slist_append(after, command.c_str());
  curl_easy_setopt(c, CURLOPT_POSTQUOTE, after);
  std::pair<const std::string*, size_t> upload{request.upload, 0};
  if (request.upload != nullptr) {
    curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &FtpCallbacks::OnRead);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.upload->size()));
  }
  curl_easy_setopt(c, CURLOPT_WRITEDATA, transfer);
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
  transfer_ = transfer;
  last_reply_.clear();
  if (transfer != nullptr) {
    transfer->last_data = transfer->span_start = std::chrono::steady_clock::now();
  }

  // Driven step by step so that the window repaints also while the server
  // is silent.
  CURLcode code = CURLE_FAILED_INIT;
  if (curl_multi_add_handle(multi, c) == CURLM_OK) {
    int running = 1;
    while (running > 0 && not_ftp_.empty()) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) break;
      if (running == 0 || !not_ftp_.empty()) break;
      if (curl_multi_poll(multi, nullptr, 0, kPollMillis, nullptr) != CURLM_OK) break;
      Tick();
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == c) code = msg->data.result;
    }
    curl_multi_remove_handle(multi, c);  // ends a request still under way
  }
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(c, CURLOPT_PREQUOTE, nullptr);
  curl_easy_setopt(c, CURLOPT_POSTQUOTE, nullptr);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 0L);
  curl_slist_free_all(rest);
  curl_slist_free_all(after);
  transfer_ = nullptr;
  if (!not_ftp_.empty()) code = CURLE_WEIRD_SERVER_REPLY;
  if (cancel_.cancelled()) {
    reason_ = kClosing;
  } else if (transfer != nullptr && transfer->stalled) {
    reason_ = "nessun dato dal server per " + std::to_string(stall_limit_.count()) + " s";
  } else if (transfer != nullptr && transfer->slow) {
    reason_ = "trasferimento troppo lento: meno di " + std::to_string(slow_bytes_per_second_) +
              " byte al secondo per " + std::to_string(slow_span_.count()) + " s";
  } else if (code != CURLE_OK) {
    reason_ = Reason(code, message);
  }
  return code;
}

std::string FtpTransport::Reason(int code, const char* detail) const {
  const std::string reply = last_reply_.empty() ? "" : "risposta del server: " + last_reply_;
  const std::string said = detail[0] != '\0' ? std::string(" (") + detail + ")" : "";
  std::string reason;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      reason = "server " + host_ + " sconosciuto" + said;
      break;
    case CURLE_COULDNT_CONNECT:
      reason = "il server " + host_ + " non accetta connessioni" + said;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      reason = "il server " + host_ + " non risponde" + said;
      break;
    case CURLE_WEIRD_SERVER_REPLY:
      reason = "il server " + host_ + " non risponde come un server FTP" +
               (not_ftp_.empty() ? said : " (" + not_ftp_ + ")");
      break;
    case CURLE_USE_SSL_FAILED:
      reason = "il server non offre una connessione protetta (TLS)" +
               (reply.empty() ? said : "; " + reply);
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
      reason = "il certificato del server non è valido" + said;
      break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
      reason = "connessione protetta non riuscita" + said;
      break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      reason = "connessione interrotta" + (reply.empty() ? said : "; " + reply);
      break;
    default:
      reason = !reply.empty() ? reply
                              : std::string(curl_easy_strerror(static_cast<CURLcode>(code))) + said;
      break;
  }
  return Masked(reason);
}

// A server may repeat what it was sent, and libcurl may show a URL: the
// password can stand after "PASS " and between "user:" and "@". Only there
// is it hidden, so that a short password does not blank out other words.
std::string FtpTransport::Masked(std::string text) const {
  if (password_.empty()) return text;
  auto hide = [&](const std::string& before, const std::string& after) {
    for (size_t at = 0; at + before.size() + password_.size() + after.size() <= text.size();) {
      bool found = true;
      for (size_t i = 0; i < before.size() && found; ++i) {
        found = std::toupper(static_cast<unsigned char>(text[at + i])) == before[i];
      }
      const size_t start = at + before.size();
      found = found && text.compare(start, password_.size(), password_) == 0 &&
              text.compare(start + password_.size(), after.size(), after) == 0;
      if (found) text.replace(start, password_.size(), "***");
      at = found ? start + 3 : at + 1;
    }
  };
  hide("PASS ", "");
  hide(":", "@");
  return text;
}

Status FtpTransport::Connect() {
  reason_.clear();
  connected_ = false;
  folder_.clear();
  open_reply_.clear();
  not_ftp_.clear();
  if (cancel_.cancelled()) return Status::Error(kClosing);
  if (!Ready()) return Status::Error("libcurl non inizializzata");
  CURL* c = Handle(curl_);
  ApplyTls();
  curl_easy_setopt(c, CURLOPT_USERNAME, account_.c_str());
  curl_easy_setopt(c, CURLOPT_PASSWORD, password_.c_str());
  Request login;
  login.fresh = true;
  if (Perform(login) != CURLE_OK) return Status::Error(reason_);
  connected_ = true;
  return Status::Ok();
}

Status FtpTransport::ChangeFolder(const std::string& folder) {
  reason_.clear();
  if (cancel_.cancelled()) return Status::Error(kClosing);
  if (!connected_) return Status::Error(kNotConnected);
  Request change;
  change.path = Folder(folder_ + folder);
  if (Perform(change) != CURLE_OK) return Status::Error(reason_);
  folder_ = change.path;
  return Status::Ok();
}

Status FtpTransport::Describe(const std::string& remote, RemoteFile* file) {
  reason_.clear();
  *file = RemoteFile{};
  if (cancel_.cancelled()) return Status::Error(kClosing);
  if (!connected_) return Status::Error(kNotConnected);
  // SIZE and MDTM, without fetching.
  Request ask;
  ask.path = folder_ + remote;
  ask.file_times = true;
  if (Perform(ask) != CURLE_OK) return Status::Error(reason_);
  curl_off_t value = -1;
  if (curl_easy_getinfo(Handle(curl_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &value) == CURLE_OK) {
    file->size = value;
  }
  value = -1;
  if (curl_easy_getinfo(Handle(curl_), CURLINFO_FILETIME_T, &value) == CURLE_OK) {
    file->modified = value;
  }
  return Status::Ok();
}

FetchEnd FtpTransport::Fetch(const std::string& remote, uint64_t offset, int64_t whole,
                             FetchSink& sink, std::string* reason) {
  reason_.clear();
  reason->clear();
  if (cancel_.cancelled() || !connected_) {
    *reason = cancel_.cancelled() ? kClosing : kNotConnected;
    return FetchEnd::kFailed;
  }
  Transfer transfer;
  transfer.sink = &sink;
  transfer.offset = offset;
  Request fetch;
  fetch.path = folder_ + remote;
  fetch.resume_from = offset;
  fetch.transfer = &transfer;
  const int code = Perform(fetch);
  *reason = reason_;
  if (cancel_.cancelled() || transfer.stalled || transfer.slow) return FetchEnd::kFailed;
  if (transfer.refused) return FetchEnd::kRefused;
  if (code == CURLE_OK) return FetchEnd::kDone;
  // REST is sent before RETR as a command of its own (see Perform).
  if (code == CURLE_QUOTE_ERROR && offset > 0) return FetchEnd::kResumeRefused;
  if (code == CURLE_REMOTE_FILE_NOT_FOUND) return FetchEnd::kNotFound;
  // Wine's Schannel reports the end of a protected data connection as an
  // error; with every byte of the file there, nothing is missing.
  if (code == CURLE_RECV_ERROR && whole >= 0 &&
      offset + transfer.received == static_cast<uint64_t>(whole)) {
    return FetchEnd::kDone;
  }
  return FetchEnd::kFailed;
}

Status FtpTransport::Store(const std::string& remote, const std::string& bytes) {
  reason_.clear();
  if (cancel_.cancelled()) return Status::Error(kClosing);
  if (!connected_) return Status::Error(kNotConnected);
  // The rename is a command of the same session, after the transfer: a
  // reader sees the earlier file or this one, whole.
  const std::string temporary = "." + remote + ".avendro-part";
  Request store;
  store.path = folder_ + temporary;
  store.upload = &bytes;
  store.after = {"RNFR " + temporary, "RNTO " + remote};
  if (Perform(store) != CURLE_OK) return Status::Error(remote + ": " + reason_);
  return Status::Ok();
}

Status FtpTransport::Disconnect() {
  reason_.clear();
  if (!connected_) return Status::Error(kNotConnected);
  connected_ = false;
  // The request after which curl closes the connection says QUIT.
  Request quit;
  quit.path = folder_;
  quit.close_after = true;
  int code = Perform(quit);
  folder_.clear();
  return code == CURLE_OK ? Status::Ok() : Status::Error(reason_);
}

}  // namespace avendro
