#include "app/application.h"

#include <QFont>

#include "platform/file_details_posix.h"
#include "platform/file_system_posix.h"
#include "platform/launcher_posix.h"
#include "platform/processes_posix.h"
#include "update/ftp.h"

namespace avendro {

void InstallFontSubstitutes() {
  QFont::insertSubstitutions(
      QStringLiteral("MS Sans Serif"),
      {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("Arial Rounded MT Bold"),
                             {QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
}

struct Application::Services {
  explicit Services(DriveMap drives) : files(std::move(drives)), details(files) {}
  PosixFileSystem files;
  PosixProcessTable processes;
  PosixLauncher launcher;
  PosixFileDetails details;
  Platform platform{files, processes, launcher, details};
  Ftp ftp{files};  // the FTP control, as long-lived as the window
};

Application::Application() = default;
Application::~Application() = default;

Status Application::Open() {
  DriveMap drives;
  Status status = DriveMap::Load(DriveMap::DefaultPrefix(), &drives);
  if (!status.ok()) return status;
  auto services = std::make_unique<Services>(std::move(drives));
  char letter = 0;
  status = services->files.CurrentDrive(&letter);
  if (!status.ok()) return status;

  services_ = std::move(services);
  window_ = std::make_unique<AggSoftware>(services_->platform);
  window_->UseFtp(services_->ftp);
  window_->Load(QString(QLatin1Char(letter)) + QLatin1Char(':'));
  window_->ShowCentred();
  return Status::Ok();
}

}  // namespace avendro
