#include "app/application.h"

#include <QFont>

#include "platform/services.h"
#include "update/ftp.h"

namespace avendro {

void InstallFontSubstitutes() {
  QFont::insertSubstitutions(
      QStringLiteral("MS Sans Serif"),
      {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("Arial Rounded MT Bold"),
                             {QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
}

Application::Application() = default;
Application::~Application() = default;

Status Application::Open() {
  std::unique_ptr<PlatformServices> services;
  Status status = MakePlatformServices(&services);
  if (!status.ok()) return status;
  char letter = 0;
  status = services->platform().files.CurrentDrive(&letter);
  if (!status.ok()) return status;
  std::unique_ptr<DriveLock> lock;
  status = services->platform().files.LockDrive(letter, &lock);
  if (!status.ok()) return status;

  services_ = std::move(services);
  drive_lock_ = std::move(lock);
  ftp_ = std::make_unique<Ftp>(services_->platform().files);
  window_ = std::make_unique<AggSoftware>(services_->platform());
  window_->UseFtp(*ftp_);
  window_->Load(QString(QLatin1Char(letter)) + QLatin1Char(':'));
  window_->ShowCentred();
  return Status::Ok();
}

}  // namespace avendro
