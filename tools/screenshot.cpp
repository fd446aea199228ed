// Opens the window as the program does and saves a picture of it:
//   screenshot OUTPUT.png [SLOT ...] [aggiorna|installa] [during]
// Each SLOT is ticked (as a click) first; "aggiorna" or "installa" then
// presses that button, answering Yes to every question. The log text is
// printed on standard output. With "during" the picture is taken while a
// download shows its progress, past a third of the file.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <cstring>

#include "app/application.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  avendro::InstallFontSubstitutes();
  if (argc < 2) {
    std::fprintf(stderr, "usage: screenshot OUTPUT.png [SLOT ...] [aggiorna|installa]\n");
    return 2;
  }
  avendro::Application avendro;
  avendro::Status status = avendro.Open();
  if (!status.ok()) {
    std::fprintf(stderr, "%s\n", status.message().c_str());
    return 1;
  }
  avendro::AggSoftware& window = avendro.window();

  // Whatever asks, the answer is Yes.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      if (auto* yes = box->findChild<QPushButton*>(QStringLiteral("Yes"))) yes->click();
    }
  });
  answer.start(50);

  // Timers fire while the run repaints the window, so this one sees the
  // progress of a download as it goes.
  const bool during = std::strcmp(argv[argc - 1], "during") == 0;
  bool taken = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* progress = window.findChild<QLabel*>(QStringLiteral("Progress"));
    if (taken || progress == nullptr || !progress->isVisible()) return;
    if (progress->text().section(QLatin1Char('%'), 0, 0).toInt() < 33) return;
    taken = window.grab().save(QString::fromLocal8Bit(argv[1]));
  });
  if (during) watch.start(100);

  for (int i = 2; i < argc; ++i) {
    QString word = QString::fromLocal8Bit(argv[i]);
    const char* button = word == QLatin1String("aggiorna")   ? "Command1"
                         : word == QLatin1String("installa") ? "Command3"
                                                             : nullptr;
    if (button != nullptr) {
      window.findChild<QToolButton*>(QLatin1String(button))->click();
    } else if (auto* box = window.findChild<QCheckBox*>(QStringLiteral("aa1_%1").arg(word))) {
      box->click();
    }
  }
  std::fwrite(window.LogText().data(), 1, window.LogText().size(), stdout);
  std::fputs("\n", stdout);

  int result = 1;
  QTimer::singleShot(300, [&] {
    result = during ? (taken ? 0 : 1) : window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return result;
}
