#include "app/application.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "app/avendro_version.h"
#include "app/font_families.h"
#include "app/library_paths.h"
#include "app/window_placement.h"

namespace avendro {

int RunWindow(int argc, char* argv[]) {
  PinQtLibraryPaths();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Avendro"));
  QApplication::setApplicationVersion(QStringLiteral(AVENDRO_RECORD_VERSION));
  InstallFontSubstitutes();

  Application avendro;
  Status status = avendro.Open();
  if (!status.ok()) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Avendro"),
                    QString::fromStdString(status.message()), QMessageBox::Ok);
    box.exec();
    return 1;
  }
  return app.exec();
}

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
  std::unique_ptr<Session> session;
  Status status = Session::Open(0, AVENDRO_RECORD_VERSION, &session);
  if (!status.ok()) return status;
  session_ = std::move(session);
  window_ = std::make_unique<AggSoftware>(ScaleForScreen());
  window_->Load(*session_, QString(QLatin1Char(session_->letter())) + QLatin1Char(':'));
  window_->ShowCentred();
  return Status::Ok();
}

}  // namespace avendro
