#include <QApplication>
#include <QMessageBox>

#include "app/application.h"
#include "app/avendro_version.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Avendro"));
  QApplication::setApplicationVersion(QStringLiteral(AVENDRO_RECORD_VERSION));
  avendro::InstallFontSubstitutes();

  avendro::Application avendro;
  avendro::Status status = avendro.Open();
  if (!status.ok()) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Avendro"),
                    QString::fromStdString(status.message()), QMessageBox::Ok);
    box.exec();
    return 1;
  }
  return app.exec();
}
