#include "update/ftp.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>
#include <mutex>
#include <vector>

namespace avendro {

namespace {

// Large reads keep the transfer at the speed of the network; memory stays
// at this one buffer whatever the file size.
constexpr long kBufferSize = 512 * 1024;

// Longest wait for the network between two calls of the keep-alive hook.
constexpr int kPollMillis = 50;

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

}  // namespace

struct Ftp::Transfer {
  // Where the bytes go: a file, or memory up to `limit` bytes.
  ReplacementFile* file = nullptr;
  std::string* memory = nullptr;
  size_t limit = 0;
  SignatureCheck* check = nullptr;  // sees every byte of the file, if set
  uint64_t base = 0;                // bytes the file held before this transfer
  int64_t total = -1;               // the whole file's size, -1 unknown
  uint64_t received = 0;

  Status error;           // of a failed write
  bool too_long = false;  // more bytes than `limit` or `total`
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
    auto* transfer = static_cast<Ftp::Transfer*>(p);
    size_t n = size * count;
    // Without a transfer curl hands over only what it tells of a file (size,
    // time) as text; that is read with curl_easy_getinfo instead.
    if (transfer == nullptr) return n;
    uint64_t after = transfer->base + transfer->received + n;
    if ((transfer->memory != nullptr && after > transfer->limit) ||
        (transfer->total >= 0 && after > static_cast<uint64_t>(transfer->total))) {
      transfer->too_long = true;
      return 0;  // curl ends the transfer with a write error
    }
    if (transfer->memory != nullptr) {
      transfer->memory->append(data, n);
    } else {
      transfer->error = transfer->file->Append(data, n);
      if (!transfer->error.ok()) return 0;
    }
    if (transfer->check != nullptr) transfer->check->Update(data, n);
    transfer->received += n;
    transfer->last_data = std::chrono::steady_clock::now();
    return n;
  }

  static int OnProgress(void* p, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* ftp = static_cast<Ftp*>(p);
    ftp->Tick();
    if (ftp->cancelled_) return 1;  // curl ends the request
    Ftp::Transfer* transfer = ftp->transfer_;
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

  // The same text, as headers.
  static size_t OnHeader(char*, size_t size, size_t count, void*) { return size * count; }

  // Keeps the server's last reply line, for the reason of a failure.
  static int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* p) {
    if (type != CURLINFO_HEADER_IN) return 0;
    auto* ftp = static_cast<Ftp*>(p);
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0]))) {
      ftp->last_reply_ = line;
    }
    return 0;
  }
};

Ftp::Ftp(FileSystem& files) : files_(files) {}

// The handles are made at the first connect, so that a window that never
// talks to the server pays nothing for them; they then live as long as the
// object.
bool Ftp::Ready() {
  if (curl_ != nullptr && multi_ != nullptr) return true;
  if (curl_ != nullptr || multi_ != nullptr) return false;  // a failed start
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  curl_ = curl_easy_init();
  multi_ = curl_multi_init();
  CURL* c = Handle(curl_);
  if (c == nullptr || multi_ == nullptr) return false;
  curl_multi_setopt(static_cast<CURLM*>(multi_), CURLMOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // One cached connection: a fresh login pushes out the one before it.
  curl_easy_setopt(c, CURLOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kBufferSize);
  // The size is asked before each download and checked here: curl would
  // otherwise ask again and quietly cut a longer file to that size.
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

Ftp::~Ftp() {
  // The multi handle holds the cached connection; closing it says QUIT.
  if (multi_ != nullptr) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  if (curl_ != nullptr) curl_easy_cleanup(Handle(curl_));
}

void Ftp::SetHost(const std::string& host) { host_ = host; }
void Ftp::SetAccount(const std::string& account) { account_ = account; }
void Ftp::SetPassword(const std::string& password) { password_ = password; }
void Ftp::SetTls(FtpTls tls) { tls_ = std::move(tls); }
void Ftp::SetSigningKey(std::optional<SigningKey> key) { signing_key_ = std::move(key); }
void Ftp::Cancel() { cancelled_ = true; }

void Ftp::SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval) {
  keep_alive_ = std::move(hook);
  keep_alive_interval_ = interval;
}

void Ftp::SetProgress(std::function<void(uint64_t, int64_t)> hook) { progress_ = std::move(hook); }

void Ftp::SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall) {
  connect_limit_ = connect;
  stall_limit_ = stall;
  CURL* c = Handle(curl_);
  if (c == nullptr) return;
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connect.count()));
  curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(stall.count()));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall.count()));
}

void Ftp::SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span) {
  slow_bytes_per_second_ = bytes_per_second;
  slow_span_ = span;
}

void Ftp::Tick() {
  auto now = std::chrono::steady_clock::now();
  if (now - last_keep_alive_ < keep_alive_interval_) return;
  last_keep_alive_ = now;
  if (progress_ && transfer_ != nullptr && transfer_->file != nullptr) {
    progress_(transfer_->base + transfer_->received, transfer_->total);
  }
  if (keep_alive_) keep_alive_();
}

std::string Ftp::Url(const std::string& path) const {
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

void Ftp::ApplyTls() {
  CURL* c = Handle(curl_);
  curl_easy_setopt(
      c, CURLOPT_USE_SSL,
      tls_.required ? static_cast<long>(CURLUSESSL_ALL) : static_cast<long>(CURLUSESSL_NONE));
  curl_easy_setopt(c, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
  if (tls_.ca_pem.empty()) {
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, nullptr);
  } else {
    curl_blob blob{tls_.ca_pem.data(), tls_.ca_pem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
  }
  // A vendor's own CA seldom publishes revocation lists; Windows then
  // cannot tell and would refuse every certificate. A certificate known to
  // be revoked is still refused.
  curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
}

int Ftp::Perform(const Request& request) {
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
    while (running > 0) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) break;
      if (running == 0) break;
      if (curl_multi_poll(multi, nullptr, 0, kPollMillis, nullptr) != CURLM_OK) break;
      Tick();
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == c) code = msg->data.result;
    }
    curl_multi_remove_handle(multi, c);
  }
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(c, CURLOPT_PREQUOTE, nullptr);
  curl_slist_free_all(rest);
  transfer_ = nullptr;
  if (cancelled_) {
    reason_ = kClosing;
  } else if (transfer != nullptr && transfer->stalled) {
    reason_ = "nessun dato dal server per " + std::to_string(stall_limit_.count()) + " s";
  } else if (transfer != nullptr && transfer->slow) {
    reason_ = "trasferimento troppo lento: meno di " + std::to_string(slow_bytes_per_second_) +
              " byte al secondo per " + std::to_string(slow_span_.count()) + " s";
  } else if (transfer != nullptr && !transfer->error.ok()) {
    reason_ = transfer->error.message();
  } else if (code != CURLE_OK) {
    reason_ = Reason(code, message);
  }
  return code;
}

std::string Ftp::Reason(int code, const char* detail) const {
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
  // A server may repeat what it was sent; the password never goes further.
  if (!password_.empty()) {
    for (size_t at = reason.find(password_); at != std::string::npos;
         at = reason.find(password_, at)) {
      reason.replace(at, password_.size(), "***");
    }
  }
  return reason;
}

Status Ftp::Connect() {
  reason_.clear();
  connected_ = false;
  folder_.clear();
  if (cancelled_) return Fail(kClosing);
  if (!Ready()) return Fail("libcurl non inizializzata");
  CURL* c = Handle(curl_);
  ApplyTls();
  curl_easy_setopt(c, CURLOPT_USERNAME, account_.c_str());
  curl_easy_setopt(c, CURLOPT_PASSWORD, password_.c_str());
  Request login;
  login.fresh = true;
  if (Perform(login) != CURLE_OK) return Fail(reason_);
  connected_ = true;
  return Status::Ok();
}

Status Ftp::ChangeFolder(const std::string& folder) {
  reason_.clear();
  if (cancelled_) return Fail(kClosing);
  if (!connected_) return Fail(kNotConnected);
  Request change;
  change.path = Folder(folder_ + folder);
  if (Perform(change) != CURLE_OK) return Fail(reason_);
  folder_ = change.path;
  return Status::Ok();
}

Status Ftp::FetchSignature(const std::string& remote, std::unique_ptr<SignatureCheck>* check) {
  const std::string name = remote + ".minisig";
  std::string text;
  Transfer transfer;
  transfer.memory = &text;
  transfer.limit = SignatureCheck::kMaxSignatureFile;
  Request fetch;
  fetch.path = folder_ + name;
  fetch.transfer = &transfer;
  int code = Perform(fetch);
  if (transfer.too_long) return Fail(remote + ": file della firma troppo grande (" + name + ")");
  if (code == CURLE_REMOTE_FILE_NOT_FOUND) {
    return Fail(remote + ": firma mancante, " + name + " non è sul server (" + reason_ + ")");
  }
  if (code != CURLE_OK) return Fail(remote + ": firma non scaricata, " + reason_);
  Status status = SignatureCheck::Begin(*signing_key_, text, check);
  if (!status.ok()) return Fail(remote + ": " + status.message());
  return Status::Ok();
}

// "d:\dunmar\dunmar.rar " -> "d:\dunmar\dunmar.rar.<size>-<time>.avendro-part":
// the server's size and time in the name tie the bytes to the file they
// came from. Windows drops trailing blanks and dots of a name, so they go
// before the suffix is added.
std::string Ftp::PartialPath(const std::string& local, const RemoteFile& file) const {
  std::string base = local;
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
  if (file.size > 0 && file.modified >= 0) {
    return base + "." + std::to_string(file.size) + "-" + std::to_string(file.modified) +
           kPartialSuffix;
  }
  return base + kPartialSuffix;
}

namespace {

std::string Lower(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

// The last component of a Windows path.
std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// Partial files of the same target that are not `keep`, or that nobody has
// touched for a week, are of a server file that has changed since, or of a
// run long gone: no resume can use them.
void Ftp::RemoveLeftovers(const std::string& local, const std::string& keep) {
  const size_t slash = keep.find_last_of('\\');
  if (slash == std::string::npos) return;
  const std::string folder = keep.substr(0, slash);
  const std::string keep_name = Lower(NameOf(keep));
  std::string prefix = Lower(NameOf(local));
  while (!prefix.empty() && (prefix.back() == ' ' || prefix.back() == '.')) prefix.pop_back();
  prefix += ".";
  const std::string suffix = kPartialSuffix;
  const auto too_old = std::chrono::system_clock::now() - kPartialLifetime;
  std::vector<FolderEntry> entries;
  if (!files_.ListFolder(folder, &entries).ok()) return;  // the download says why
  for (const FolderEntry& entry : entries) {
    std::string name = Lower(entry.name);
    if (entry.folder || name.size() <= prefix.size() + suffix.size()) continue;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    if (name == keep_name && entry.modified >= too_old) continue;
    (void)files_.RemoveFile(folder + "\\" + entry.name);  // best effort: a resume checks again
  }
}

Status Ftp::FetchInto(const std::string& remote, PartialFile& file, const RemoteFile& info,
                      SignatureCheck* check, bool* resumable_bytes) {
  *resumable_bytes = true;
  Transfer transfer;
  transfer.file = &file;
  transfer.check = check;
  transfer.base = file.kept();
  transfer.total = info.size;
  Request fetch;
  fetch.path = folder_ + remote;
  fetch.resume_from = file.kept();
  fetch.transfer = &transfer;
  int code = Perform(fetch);
  const uint64_t got = transfer.base + transfer.received;
  // Bytes cut short may be the beginning of the right file; an empty
  // partial file is worth nothing.
  *resumable_bytes = got > 0;
  if (transfer.too_long) {
    *resumable_bytes = false;
    return Fail(remote + ": il server manda più dei " + std::to_string(info.size) +
                " byte annunciati");
  }
  // Wine's Schannel reports the end of a protected data connection as an
  // error; with every announced byte there, nothing is missing.
  const bool whole = info.size >= 0 && got == static_cast<uint64_t>(info.size);
  if (code != CURLE_OK && !(code == CURLE_RECV_ERROR && whole)) {
    return Fail(remote + ": " + reason_);
  }
  if (info.size >= 0 && got < static_cast<uint64_t>(info.size)) {
    return Fail(remote + ": trasferimento interrotto, arrivati " + std::to_string(got) +
                " byte dei " + std::to_string(info.size) + " annunciati dal server");
  }
  if (got == 0) return Fail(remote + ": il file sul server è vuoto");
  if (check != nullptr) {
    Status status = check->Finish();
    if (!status.ok()) {
      *resumable_bytes = false;  // somewhere in them is a byte the vendor did not sign
      return Fail(remote + ": " + status.message());
    }
  }
  return Status::Ok();
}

Status Ftp::Download(const std::string& remote, const std::string& local) {
  reason_.clear();
  if (cancelled_) return Fail(kClosing);
  if (!connected_) return Fail(kNotConnected);

  std::unique_ptr<SignatureCheck> check;
  if (signing_key_) {
    Status signature = FetchSignature(remote, &check);
    if (!signature.ok()) return signature;
  }

  // SIZE and MDTM: whether a partial file can be resumed, and how long the
  // file must be.
  Request ask;
  ask.path = folder_ + remote;
  ask.file_times = true;
  if (Perform(ask) != CURLE_OK) return Fail(remote + ": " + reason_);
  RemoteFile info;
  curl_off_t value = -1;
  if (curl_easy_getinfo(Handle(curl_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &value) == CURLE_OK) {
    info.size = value;
  }
  value = -1;
  if (curl_easy_getinfo(Handle(curl_), CURLINFO_FILETIME_T, &value) == CURLE_OK) {
    info.modified = value;
  }
  if (info.size == 0) return Fail(remote + ": il file sul server è vuoto");

  const std::string partial = PartialPath(local, info);
  const bool resumable = info.size > 0 && info.modified >= 0;
  RemoveLeftovers(local, partial);
  std::unique_ptr<PartialFile> file;
  Status status = files_.OpenPartial(partial, local, &file);
  if (status.ok() && file->kept() > 0 &&
      (!resumable || file->kept() >= static_cast<uint64_t>(info.size))) {
    file.reset();  // of unknown origin, or as long as the whole: start afresh
    status = files_.RemoveFile(partial);
    if (status.ok()) status = files_.OpenPartial(partial, local, &file);
  }
  if (status.ok() && check && file->kept() > 0) {
    status = file->ReadKept([&](const char* data, size_t size) { check->Update(data, size); });
  }
  if (!status.ok()) return Fail(status.message());

  bool resumable_bytes = false;
  Status fetched = FetchInto(remote, *file, info, check.get(), &resumable_bytes);
  if (!fetched.ok()) {
    // A download cut short can go on later; bytes that proved wrong cannot.
    file.reset();
    if (!resumable || !resumable_bytes) (void)files_.RemoveFile(partial);
    return fetched;
  }
  status = file->Commit();
  if (!status.ok()) {
    file.reset();
    (void)files_.RemoveFile(partial);
    return Fail(status.message());
  }
  return Status::Ok();
}

Status Ftp::Disconnect() {
  reason_.clear();
  if (!connected_) return Fail(kNotConnected);
  connected_ = false;
  // The request after which curl closes the connection says QUIT.
  Request quit;
  quit.path = folder_;
  quit.close_after = true;
  int code = Perform(quit);
  folder_.clear();
  return code == CURLE_OK ? Status::Ok() : Fail(reason_);
}

}  // namespace avendro
