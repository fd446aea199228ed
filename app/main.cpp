#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/avendro_version.h"
#include "app/library_paths.h"
#include "shell/command_line.h"

int main(int argc, char* argv[]) {
  avendro::PinLibrarySearch();
  // With arguments the program runs without a window (shell/command_line):
  // from a scheduled task with nobody logged on, or with no display. No Qt
  // object is made on that way.
  if (argc > 1) {
#ifdef LC_MESSAGES
    // The system's reasons in the user's language, as QApplication sets
    // them for the window; numbers keep the C locale's form.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
#endif
    return avendro::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                   AVENDRO_RECORD_VERSION);
  }

  avendro::PinQtLibraryPaths();
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
