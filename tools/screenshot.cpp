// Opens the window as the program does and saves a picture of it:
//   screenshot OUTPUT.png [SLOT ...]
// Each SLOT is ticked (as a click) before the picture is taken.
#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <cstdio>

#include "app/application.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  avendro::InstallFontSubstitutes();
  if (argc < 2) {
    std::fprintf(stderr, "usage: screenshot OUTPUT.png [SLOT ...]\n");
    return 2;
  }
  avendro::Application avendro;
  avendro::Status status = avendro.Open();
  if (!status.ok()) {
    std::fprintf(stderr, "%s\n", status.message().c_str());
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    auto* box = avendro.window().findChild<QCheckBox*>(QStringLiteral("aa1_%1").arg(argv[i]));
    if (box != nullptr) box->click();
  }
  int result = 1;
  QTimer::singleShot(300, [&] {
    result = avendro.window().grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return result;
}
