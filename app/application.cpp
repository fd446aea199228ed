#include "app/application.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>

#include "platform/services.h"
#include "shell/font_families.h"
#include "shell/window_placement.h"
#include "update/ftp.h"

namespace avendro {

void InstallFontSubstitutes() {
  for (const std::string family : {"MS Sans Serif", "Arial Rounded MT Bold"}) {
    QStringList substitutes;
    for (const std::string& candidate : FontCandidates(family)) {
      if (candidate != family) substitutes.append(QString::fromStdString(candidate));
    }
    QFont::insertSubstitutions(QString::fromStdString(family), substitutes);
  }
}

namespace {

// The scale at which the window fits on the primary screen's work area. Its
// frame is not known before it exists: reckon with one like Windows'.
double ScaleForScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 1;
  const QRect area = screen->availableGeometry();
  return PlaceWindow({area.x(), area.y(), area.width(), area.height()}, kWindows10Frame, kFormWidth,
                     kFormHeight)
      .scale;
}

}  // namespace

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
  window_ = std::make_unique<AggSoftware>(services_->platform(), ScaleForScreen());
  window_->UseFtp(*ftp_);
  window_->Load(QString(QLatin1Char(letter)) + QLatin1Char(':'));
  window_->ShowCentred();
  return Status::Ok();
}

}  // namespace avendro
