// The reference for the start-up of the packaged Avendro.exe under Wine: a
// QApplication and an empty window of the same size, shown, built with the
// same Qt and shipped beside Avendro.exe. bench/wine_startup_bench.py times
// both until the window is on the screen.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget empty;
  empty.setWindowTitle(QStringLiteral("Finestra vuota"));
  empty.resize(1008, 730);
  empty.show();
  return app.exec();
}
