// Opens the window as the program does and, once it has been painted and
// the event loop is about to wait, prints when it got to each step and ends;
// how long the process then takes to end is not start-up. The steps, in
// nanoseconds of the steady clock (CLOCK_MONOTONIC, as Python's
// time.monotonic_ns): main entered, QApplication made, window opened, first
// paint begun, idle. `startup_probe --empty` does the same with an empty
// window, the reference for the start-up figure.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/application.h"

namespace {

long long Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Notes when the first paint of a window begins.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (painted == 0 && event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
      painted = Now();
    }
    return false;
  }
  long long painted = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  const long long entered = Now();
  QApplication app(argc, argv);
  const long long made = Now();
  long long opened = 0;
  FirstPaint first_paint;
  app.installEventFilter(&first_paint);
  bool reported = false;
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   &app, [&] {
                     if (first_paint.painted == 0 || reported) return;
                     reported = true;
                     std::printf("%lld %lld %lld %lld %lld\n", entered, made, opened,
                                 first_paint.painted, Now());
                     std::fflush(stdout);
                     QApplication::quit();
                   });
  std::unique_ptr<QWidget> empty;
  std::unique_ptr<avendro::Application> avendro;
  if (argc > 1 && std::strcmp(argv[1], "--empty") == 0) {
    empty = std::make_unique<QWidget>();
    empty->resize(1008, 730);
    empty->show();
  } else {
    avendro::InstallFontSubstitutes();
    avendro = std::make_unique<avendro::Application>();
    if (!avendro->Open().ok()) return 1;
  }
  opened = Now();
  return QApplication::exec();
}
