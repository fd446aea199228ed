#include "channel/ftp_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

namespace avendro {

namespace {

// The longest piece of a server's line that a reason quotes.
constexpr size_t kQuoted = 80;

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

}  // namespace

struct FtpCallbacks {
  // The bytes of a STOR, from the string the request names.
  static size_t OnRead(char* buffer, size_t size, size_t count, void* p) {
    auto* upload = static_cast<std::pair<const std::string*, size_t>*>(p);
    const size_t n = std::min(size * count, upload->first->size() - upload->second);
    std::copy_n(upload->first->data() + upload->second, n, buffer);
    upload->second += n;
    return n;
  }

  // The replies again, as headers: OnDebug reads them.
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
  if (announce_to_ != nullptr && (line.starts_with("150") || line.starts_with("125"))) {
    const int64_t size = AnnouncedSize(line);
    if (size >= 0) announce_to_->Announced(size);
  }
}

FtpTransport::FtpTransport(const CancelToken& cancel) : session_(cancel) {
  session_.SetProtocol([this](CURL* c) { SetProtocolOptions(c); });
}

FtpTransport::~FtpTransport() = default;

void FtpTransport::SetProtocolOptions(CURL* c) {
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
  // The caller checks the size. curl would otherwise ask SIZE again before
  // each transfer, cut a longer file to it quietly, and count a resume
  // (REST said by us) as a short file. The size in the transfer's own reply
  // reaches the sink through ReplyLine.
  curl_easy_setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &FtpCallbacks::OnHeader);
  // The dialogue goes through OnDebug only, which keeps the server's replies.
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &FtpCallbacks::OnDebug);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, this);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
}

std::string FtpTransport::Url(const std::string& path) const {
  std::string url = "ftp://" + host_ + "/";
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    bool folder = end != std::string::npos;
    if (!folder) end = path.size();
    std::string part = path.substr(start, end - start);
    char* escaped = curl_easy_escape(nullptr, part.data(), static_cast<int>(part.size()));
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
  CURL* c = session_.Handle();
  curl_easy_setopt(
      c, CURLOPT_USE_SSL,
      tls_.required ? static_cast<long>(CURLUSESSL_ALL) : static_cast<long>(CURLUSESSL_NONE));
  curl_easy_setopt(c, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
  session_.Trust(tls_.ca_pem);
}

CURLcode FtpTransport::Perform(const Request& request) {
  CURL* c = session_.Handle();
  if (c == nullptr) return CURLE_FAILED_INIT;
  CurlSession::Transfer* transfer = request.transfer;
  std::string url = Url(request.path);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, request.fresh ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_FORBID_REUSE, request.close_after ? 1L : 0L);
  // Without a body curl only logs in and walks into the folder of `path`,
  // and for a file asks its size (and time) without fetching it.
  curl_easy_setopt(c, CURLOPT_NOBODY, transfer == nullptr ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_FILETIME, request.file_times ? 1L : 0L);
  // A resume says REST itself: curl's own resume needs its size check,
  // which is off (see SetProtocolOptions).
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
  last_reply_.clear();
  announce_to_ = transfer != nullptr && request.resume_from == 0 ? transfer->sink : nullptr;
  // A greeting that is no FTP ends the request at once: curl would wait
  // for a reply line until the time limit.
  CURLcode code = session_.Perform(transfer, [this] { return !not_ftp_.empty(); });
  announce_to_ = nullptr;
  curl_easy_setopt(c, CURLOPT_PREQUOTE, nullptr);
  curl_easy_setopt(c, CURLOPT_POSTQUOTE, nullptr);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 0L);
  curl_slist_free_all(rest);
  curl_slist_free_all(after);
  if (!not_ftp_.empty()) code = CURLE_WEIRD_SERVER_REPLY;
  reason_ = session_.Why(code, [this](CURLcode failed) { return Reason(failed); });
  return code;
}

std::string FtpTransport::Reason(CURLcode code) const {
  const std::string reply = last_reply_.empty() ? "" : "risposta del server: " + last_reply_;
  const std::string said = session_.Said();
  std::string reason = session_.CommonReason(code, host_);
  if (!reason.empty()) return session_.Masked(reason);
  switch (code) {
    case CURLE_WEIRD_SERVER_REPLY:
      reason = "il server " + host_ + " non risponde come un server FTP" +
               (not_ftp_.empty() ? said : " (" + not_ftp_ + ")");
      break;
    case CURLE_USE_SSL_FAILED:
      reason = "il server non offre una connessione protetta (TLS)" +
               (reply.empty() ? said : "; " + reply);
      break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      reason = "connessione interrotta" + (reply.empty() ? said : "; " + reply);
      break;
    default:
      reason = !reply.empty() ? reply : std::string(curl_easy_strerror(code)) + said;
      break;
  }
  return session_.Masked(reason);
}

Status FtpTransport::Connect() {
  reason_.clear();
  connected_ = false;
  folder_.clear();
  open_reply_.clear();
  not_ftp_.clear();
  if (session_.cancelled()) return Status::Error(CurlSession::kClosing, StatusCode::kCancelled);
  CURL* c = session_.Handle();
  if (c == nullptr) return Status::Error("libcurl non inizializzata");
  ApplyTls();
  session_.SetSecret(password_);
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
  if (Status usable = session_.Usable(connected_); !usable.ok()) return usable;
  Request change;
  change.path = CleanFolder(folder_ + folder);
  if (Perform(change) != CURLE_OK) return Status::Error(reason_);
  folder_ = change.path;
  return Status::Ok();
}

Status FtpTransport::Describe(const std::string& remote, RemoteFile* file) {
  reason_.clear();
  *file = RemoteFile{};
  if (Status usable = session_.Usable(connected_); !usable.ok()) return usable;
  // SIZE and MDTM, without fetching.
  Request ask;
  ask.path = folder_ + remote;
  ask.file_times = true;
  if (Perform(ask) != CURLE_OK) return Status::Error(reason_);
  file->size = session_.Number(CURLINFO_CONTENT_LENGTH_DOWNLOAD_T);
  file->modified = session_.Number(CURLINFO_FILETIME_T);
  return Status::Ok();
}

FetchEnd FtpTransport::Fetch(const std::string& remote, uint64_t offset, int64_t whole,
                             FetchSink& sink, std::string* reason) {
  reason_.clear();
  *reason = session_.Usable(connected_).message();
  if (!reason->empty()) return FetchEnd::kFailed;
  CurlSession::Transfer transfer;
  transfer.sink = &sink;
  Request fetch;
  fetch.path = folder_ + remote;
  fetch.resume_from = offset;
  fetch.transfer = &transfer;
  const CURLcode code = Perform(fetch);
  *reason = reason_;
  if (session_.EndedHere(transfer)) return FetchEnd::kFailed;
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
  if (Status usable = session_.Usable(connected_); !usable.ok()) return usable;
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
  if (!connected_) return Status::Error(CurlSession::kNotConnected);
  connected_ = false;
  // The request after which curl closes the connection says QUIT.
  Request quit;
  quit.path = folder_;
  quit.close_after = true;
  CURLcode code = Perform(quit);
  folder_.clear();
  return code == CURLE_OK ? Status::Ok() : Status::Error(reason_);
}

}  // namespace avendro
