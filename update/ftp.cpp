#include "update/ftp.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

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
  ReplacementFile* file = nullptr;
  Status error;  // of a failed write
  // When the last bytes arrived (or the request began): curl's own speed
  // limit averages over several seconds and so ends a stalled transfer late.
  std::chrono::steady_clock::time_point last_data = std::chrono::steady_clock::now();
  bool stalled = false;
};

struct FtpCallbacks {
  static size_t OnData(char* data, size_t size, size_t count, void* p) {
    auto* transfer = static_cast<Ftp::Transfer*>(p);
    size_t total = size * count;
    transfer->error = transfer->file->Append(data, total);
    if (!transfer->error.ok()) return 0;  // curl ends the transfer with a write error
    transfer->last_data = std::chrono::steady_clock::now();
    return total;
  }

  static int OnProgress(void* p, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* ftp = static_cast<Ftp*>(p);
    ftp->Tick();
    Ftp::Transfer* transfer = ftp->transfer_;
    if (transfer != nullptr &&
        std::chrono::steady_clock::now() - transfer->last_data >= ftp->stall_limit_) {
      transfer->stalled = true;
      return 1;  // curl ends the transfer
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
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &FtpCallbacks::OnData);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &FtpCallbacks::OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
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

void Ftp::SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval) {
  keep_alive_ = std::move(hook);
  keep_alive_interval_ = interval;
}

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

void Ftp::Tick() {
  if (!keep_alive_) return;
  auto now = std::chrono::steady_clock::now();
  if (now - last_keep_alive_ < keep_alive_interval_) return;
  last_keep_alive_ = now;
  keep_alive_();
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

int Ftp::Perform(const std::string& path, bool fresh, bool close_after, Transfer* transfer) {
  CURL* c = Handle(curl_);
  CURLM* multi = static_cast<CURLM*>(multi_);
  if (c == nullptr || multi == nullptr) return CURLE_FAILED_INIT;
  std::string url = Url(path);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, fresh ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_FORBID_REUSE, close_after ? 1L : 0L);
  // Without a body curl only logs in and walks into the folder of `path`.
  curl_easy_setopt(c, CURLOPT_NOBODY, transfer == nullptr ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, transfer);
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
  transfer_ = transfer;
  if (transfer != nullptr) transfer->last_data = std::chrono::steady_clock::now();

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
  transfer_ = nullptr;
  if (transfer != nullptr && transfer->stalled) {
    last_error_ = "nessun dato dal server per " + std::to_string(stall_limit_.count()) + " s";
  } else if (code != CURLE_OK) {
    last_error_ = std::string(curl_easy_strerror(code));
    if (message[0] != '\0') last_error_ += std::string(" (") + message + ")";
  }
  return code;
}

int32_t Ftp::Fail(const std::string& what) {
  last_error_ = what + ": " + last_error_;
  return 0;
}

int32_t Ftp::Connect() {
  last_error_.clear();
  connected_ = false;
  folder_.clear();
  if (!Ready()) {
    last_error_ = "libcurl non inizializzata";
    return 0;
  }
  CURL* c = Handle(curl_);
  curl_easy_setopt(c, CURLOPT_USERNAME, account_.c_str());
  curl_easy_setopt(c, CURLOPT_PASSWORD, password_.c_str());
  int code = Perform("", /*fresh=*/true, /*close_after=*/false, nullptr);
  if (code != CURLE_OK) return Fail("connessione a " + host_);
  connected_ = true;
  return 1;
}

int32_t Ftp::ChangeFolder(const std::string& folder) {
  last_error_.clear();
  if (!connected_) {
    last_error_ = "non connesso";
    return 0;
  }
  std::string wanted = Folder(folder_ + folder);
  int code = Perform(wanted, false, false, nullptr);
  if (code != CURLE_OK) return Fail("cartella " + folder);
  folder_ = wanted;
  return 1;
}

int32_t Ftp::Download(const std::string& remote, const std::string& local) {
  last_error_.clear();
  if (!connected_) {
    last_error_ = "non connesso";
    return 0;
  }
  // The download grows beside the target and replaces it only when
  // complete.
  std::unique_ptr<ReplacementFile> file;
  Status status = files_.BeginReplacement(local, &file);
  if (!status.ok()) {
    last_error_ = status.message();
    return 0;
  }
  Transfer transfer;
  transfer.file = file.get();
  int code = Perform(folder_ + remote, false, false, &transfer);
  if (code != CURLE_OK) {
    last_error_ = transfer.error.ok() ? remote + ": " + last_error_ : transfer.error.message();
    return 0;  // `file` takes its temporary file with it
  }
  status = file->Commit();
  if (!status.ok()) {
    last_error_ = status.message();
    return 0;
  }
  return 1;
}

int32_t Ftp::Disconnect() {
  last_error_.clear();
  if (!connected_) {
    last_error_ = "non connesso";
    return 0;
  }
  connected_ = false;
  // The request after which curl closes the connection says QUIT.
  int code = Perform(folder_, false, /*close_after=*/true, nullptr);
  folder_.clear();
  if (code != CURLE_OK) return Fail("disconnessione");
  return 1;
}

}  // namespace avendro
