#include "channel/update_server.h"

#include "catalogue/catalogue.h"

namespace avendro {

std::string ServerAddress::shown_host() const {
  return url.empty() ? host : HttpsTransport::HostOf(url);
}

// The address then chooses the transport (FTP until it names a web server).
UpdateServer::UpdateServer(FileSystem& files) : UpdateServer(files, ftp_) { given_ = false; }

UpdateServer::UpdateServer(FileSystem& files, Transport& transport)
    : given_(true), channel_(transport), download_(channel_, files) {
  SetTimeLimits(kConnectLimit, kStallLimit);
  SetSlowLimit(kSlowBytesPerSecond, kSlowSpan);
  SetKeepAlive(nullptr);
}

void UpdateServer::ForEachSession(const std::function<void(CurlSession&)>& apply) {
  apply(ftp_.session());
  apply(https_.session());
}

void UpdateServer::SetAddress(const ServerAddress& address) {
  if (address.url.empty()) {
    SetHost(address.host);
    ftp_.SetAccount(address.user);
    ftp_.SetPassword(address.password);
    ftp_.SetTls({address.tls_required, address.ca_pem});
    return;
  }
  https_.SetServer(address.url, address.ca_pem);
  if (!given_) channel_.to = &https_;
}

void UpdateServer::SetHost(const std::string& host) {
  ftp_.SetHost(host);
  if (!given_) channel_.to = &ftp_;
}

void UpdateServer::SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval) {
  keep_alive_ = std::move(hook);
  ForEachSession([&](CurlSession& s) { s.SetKeepAlive([this] { Tick(); }, interval); });
}

void UpdateServer::SetTimeLimits(std::chrono::seconds connect, std::chrono::seconds stall) {
  ForEachSession([&](CurlSession& s) { s.SetTimeLimits(connect, stall); });
}

void UpdateServer::SetSlowLimit(uint64_t bytes_per_second, std::chrono::seconds span) {
  ForEachSession([&](CurlSession& s) { s.SetSlowLimit(bytes_per_second, span); });
}

void UpdateServer::SetProgress(std::function<void(uint64_t, int64_t)> hook) {
  progress_ = std::move(hook);
}

void UpdateServer::Tick() {
  uint64_t done = 0;
  int64_t total = -1;
  if (progress_ && download_.Progress(&done, &total)) progress_(done, total);
  if (keep_alive_) keep_alive_();
}

void UpdateServer::SetWorkDrive(char letter) {
  download_.SetStateFile(OnDrive(letter, kSignatureRecord));
}

Status UpdateServer::Connect() {
  connected_ = false;
  Status status = channel_.Connect();
  connected_ = status.ok();
  return status;
}

Status UpdateServer::ChangeFolder(const std::string& folder) {
  return channel_.ChangeFolder(folder);
}

Status UpdateServer::Download(const std::string& remote, const std::string& local,
                              ArchiveIdentity* got) {
  if (cancel_.cancelled()) return Status::Error(CurlSession::kClosing, StatusCode::kCancelled);
  if (!connected_) return Status::Error(kNotConnected);
  return download_.Download(remote, local, got);
}

Status UpdateServer::Identify(const std::string& remote, ArchiveIdentity* identity) {
  if (cancel_.cancelled()) return Status::Error(CurlSession::kClosing, StatusCode::kCancelled);
  if (!connected_) return Status::Error(kNotConnected);
  return download_.Identify(remote, identity);
}

Status UpdateServer::Store(const std::string& remote, const std::string& bytes) {
  if (cancel_.cancelled()) return Status::Error(CurlSession::kClosing, StatusCode::kCancelled);
  if (!connected_) return Status::Error(kNotConnected);
  return channel_.Store(remote, bytes);
}

Status UpdateServer::Disconnect() {
  connected_ = false;
  return channel_.Disconnect();
}

}  // namespace avendro
