#include <QApplication>
#include <QMessageBox>

#include "app/application.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Avendro"));
  QApplication::setApplicationVersion(QStringLiteral("1.00.0005"));
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
