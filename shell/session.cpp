#include "shell/session.h"

#include "platform/services.h"
#include "shell/startup.h"
#include "update/ftp.h"

namespace avendro {

Status Session::Open(char letter, const std::string& version, std::unique_ptr<Session>* out) {
  std::unique_ptr<PlatformServices> services;
  Status status = MakePlatformServices(&services);
  if (!status.ok()) return status;
  if (letter == 0) status = services->platform().files.CurrentDrive(&letter);
  if (!status.ok()) return status;
  std::unique_ptr<DriveLock> lock;
  status = services->platform().files.LockDrive(letter, &lock);
  if (!status.ok()) return status;
  out->reset(new Session(std::move(services), std::move(lock), letter, version));
  return Status::Ok();
}

Session::Session(std::unique_ptr<PlatformServices> services, std::unique_ptr<DriveLock> lock,
                 char letter, const std::string& version)
    : services_(std::move(services)),
      lock_(std::move(lock)),
      own_ftp_(std::make_unique<Ftp>(services_->platform().files)),
      platform_(services_->platform()),
      ftp_(*own_ftp_),
      letter_(letter),
      version_(version),
      log_(platform_.files, letter) {}

Session::Session(Platform& platform, Ftp& ftp, char letter, const std::string& version)
    : platform_(platform),
      ftp_(ftp),
      letter_(letter),
      version_(version),
      log_(platform.files, letter) {}

// The runs go first: they hand the FTP control their callbacks back.
Session::~Session() { remote_.reset(); }

std::string Session::Start(WindowPort& face, const std::string& drive_text,
                           const std::string& face_name) {
  std::string caption = RunStartup(face, platform_, drive_text, &modu1_);
  // Only now: the scan makes the work folder that holds the file.
  Status status = log_.Open(face_name, version_);
  if (!status.ok()) face.AggiungiStato("Impossibile scrivere il registro " + status.message());
  remote_ = std::make_unique<RemoteUpdate>(face, platform_, ftp_, modu1_);
  return caption;
}

}  // namespace avendro
