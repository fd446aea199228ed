#include "update/ftp.h"

namespace avendro {

Ftp::Ftp(FileSystem& files) : Ftp(files, transport_) {}

Ftp::Ftp(FileSystem& files, Transport& transport)
    : channel_(transport), download_(channel_, files) {
  transport_.SetTimeLimits(kConnectLimit, kStallLimit);
  transport_.SetSlowLimit(kSlowBytesPerSecond, kSlowSpan);
  transport_.SetKeepAlive([this] { Tick(); }, std::chrono::milliseconds(50));
}

void Ftp::SetKeepAlive(std::function<void()> hook, std::chrono::milliseconds interval) {
  keep_alive_ = std::move(hook);
  transport_.SetKeepAlive([this] { Tick(); }, interval);
}

void Ftp::SetProgress(std::function<void(uint64_t, int64_t)> hook) { progress_ = std::move(hook); }

void Ftp::Tick() {
  uint64_t done = 0;
  int64_t total = -1;
  if (progress_ && download_.Progress(&done, &total)) progress_(done, total);
  if (keep_alive_) keep_alive_();
}

Status Ftp::Connect() {
  connected_ = false;
  Status status = channel_.Connect();
  connected_ = status.ok();
  return status;
}

Status Ftp::ChangeFolder(const std::string& folder) { return channel_.ChangeFolder(folder); }

Status Ftp::Download(const std::string& remote, const std::string& local, ArchiveIdentity* got) {
  if (cancel_.cancelled()) return Status::Error(FtpTransport::kClosing);
  if (!connected_) return Status::Error(kNotConnected);
  return download_.Download(remote, local, got);
}

Status Ftp::Identify(const std::string& remote, const std::string& local,
                     ArchiveIdentity* identity) {
  if (cancel_.cancelled()) return Status::Error(FtpTransport::kClosing);
  if (!connected_) return Status::Error(kNotConnected);
  return download_.Identify(remote, local, identity);
}

Status Ftp::Store(const std::string& remote, const std::string& bytes) {
  if (cancel_.cancelled()) return Status::Error(FtpTransport::kClosing);
  if (!connected_) return Status::Error(kNotConnected);
  return channel_.Store(remote, bytes);
}

Status Ftp::Disconnect() {
  connected_ = false;
  return channel_.Disconnect();
}

}  // namespace avendro
