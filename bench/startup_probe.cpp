// Opens the window as the program does, waits until it is shown and the
// event loop is idle, and ends. `startup_probe --empty` does the same with an
// empty window, the reference for the start-up figure.
#include <QApplication>
#include <QTimer>
#include <cstring>

#include "app/application.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "--empty") == 0) {
    QWidget empty;
    empty.resize(1008, 730);
    empty.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
  }
  avendro::InstallFontSubstitutes();
  avendro::Application avendro;
  if (!avendro.Open().ok()) return 1;
  QTimer::singleShot(0, &app, &QApplication::quit);
  return app.exec();
}
