#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleOption>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/application.h"
#include "app/font_families.h"
#include "app/main_window.h"
#include "app/window_placement.h"
#include "channel/update_server.h"
#include "shell/session.h"
#include "tests/test_support.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

// The window over a temporary prefix with a few programs on drive D.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest()
      : files_(testing::SystemFileSystem(prefix_)),
        processes_(testing::SystemProcessTable()),
        launcher_(testing::SystemLauncher()),
        details_(testing::SystemFileDetails(*files_)) {
    prefix_.Put('d', "programmi/varnok/varnok.exe");
    prefix_.Put('d', "dunmar/rostiva.exe");
    window_ = std::make_unique<AggSoftware>();
    window_->Load(session_, QStringLiteral("d: [LAVORO]"));
    window_->ShowCentred();
  }

  template <typename T>
  T* Find(const QString& name) {
    T* w = window_->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
  }
  QCheckBox* Box(int slot) { return Find<QCheckBox>(QStringLiteral("aa1_%1").arg(slot)); }

  TempPrefix prefix_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<ProcessTable> processes_;
  std::unique_ptr<Launcher> launcher_;
  std::unique_ptr<FileDetailsSource> details_;
  Platform platform_{*files_, *processes_, *launcher_, *details_};
  UpdateServer ftp_{*files_};  // outlives the window, which holds it
  Session session_{platform_, ftp_, 'd', "prova"};
  std::unique_ptr<AggSoftware> window_;
};

// Counts the paint events (or those of `type`) `widget` gets, for the life of the object.
struct PaintCount : QObject {
  explicit PaintCount(QWidget* widget, QEvent::Type type = QEvent::Paint) : type(type) {
    widget->installEventFilter(this);
  }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    count += event->type() == type;
    return false;
  }
  QEvent::Type type;
  int count = 0;
};

struct Expected {
  const char* name;
  const char* caption;
  int left, top, width, height;  // twips
  bool visible;
};

TEST_F(WindowTest, ControlsStandWhereTheFormPutsThem) {
  EXPECT_EQ(window_->objectName(), "agg_software");
  EXPECT_EQ(window_->windowTitle(), "Aggiornamento Software");
  EXPECT_EQ(window_->size(), QSize(1008, 730));
  EXPECT_FALSE(window_->windowIcon().isNull());
  EXPECT_EQ(window_->palette().color(QPalette::Window), QColor(255, 255, 255));

  const Expected controls[] = {
      {"Command3", "INSTALLA", 5160, 9480, 4335, 1215, true},
      {"Picture1", nullptr, 5760, 2280, 3255, 2775, true},
      {"Drive1", nullptr, 7920, 7200, 2175, 315, false},
      {"Frame1", "Programmi", 120, 240, 4335, 9135, true},
      {"txtStatus", nullptr, 10200, 240, 4875, 9165, true},
      {"Command2", "USCITA", 10200, 9480, 4815, 1215, true},
      {"Command1", "AGGIORNA", 120, 9480, 4335, 1215, true},
      {"Label9", "", 5520, 7920, 3495, 375, true},
      {"Label1",
       "Selezionare  i programmi desiderati elencati nella tabella a sinistra e procedere con "
       "l'operazione selezionata.",
       4680, 1320, 5415, 855, true},
      {"Label4", "ATTENDERE...", 5520, 5040, 3735, 615, false},
      {"Label3", "   Procedura di aggiornamento  Software ", 4560, 240, 5535, 975, true},
  };
  for (const Expected& e : controls) {
    QWidget* w = Find<QWidget>(QString::fromLatin1(e.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(e.left / 15, e.top / 15, e.width / 15, e.height / 15)) << e.name;
    EXPECT_EQ(w->isVisible(), e.visible) << e.name;
    if (e.caption == nullptr) continue;
    QString caption = QString::fromUtf8(e.caption);
    QString shown;
    if (auto* b = qobject_cast<QToolButton*>(w)) shown = b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) shown = l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) shown = g->title();
    EXPECT_EQ(shown, caption) << e.name;
  }
  auto* timer = window_->findChild<QTimer*>(QStringLiteral("Timer1"));
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 1000);
  EXPECT_EQ(Find<QComboBox>(QStringLiteral("Drive1"))->currentText(), "d: [LAVORO]");
}

TEST_F(WindowTest, BoxesCarryTheCataloguesCaptions) {
  QWidget* frame = Find<QWidget>(QStringLiteral("Frame1"));
  for (int slot = 0; slot < kSlotCount; ++slot) {
    QCheckBox* box = Box(slot);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->parentWidget(), frame);
    EXPECT_EQ(box->text().toStdString(), Row(slot).caption) << slot;
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
    EXPECT_EQ(box->property("Index").toInt(), slot);
  }
  EXPECT_EQ(Box(6)->text(), "Pellwick-Gestione Pizzeria ");
  EXPECT_EQ(Box(14)->geometry(), QRect(32, 472, 249, 33));
  EXPECT_EQ(Box(19)->geometry(), QRect(160, 560, 33, 41));
  // The installed programs are green; the others keep the white of the form.
  EXPECT_EQ(Box(0)->palette().color(QPalette::Window), QColor(0, 255, 0));
  EXPECT_EQ(Box(7)->palette().color(QPalette::Window), QColor(0, 255, 0));
  EXPECT_EQ(Box(1)->palette().color(QPalette::Window), QColor(255, 255, 255));
  // Boxes 0..15 are flat: one border colour round plain white, no bevel.
  for (int slot : {0, 15, 16}) {
    QStyleOptionButton o;
    o.initFrom(Box(slot));
    const QRect r = Box(slot)->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &o, Box(slot));
    const QImage s = Box(slot)->grab().toImage();
    const bool flat = s.pixelColor(r.topLeft()) == s.pixelColor(r.bottomRight()) &&
                      s.pixelColor(r.topLeft() + QPoint(1, 1)) == QColor(Qt::white);
    EXPECT_EQ(flat, slot < kProductCount) << slot;
  }
}

TEST_F(WindowTest, LogHoldsTheStartUpLinesExactly) {
  const std::string expected =
      "- ===== CONTROLLO PROGRAMMI SU DISCO ======\r\n- \r\n"
      "- Controllo Varnok sul Disco...OK\r\n- Controllo Rostiva sul Disco...OK\r\n"
      "- \r\n- == CONTROLLO PROG IN MEMORIA  ======\r\n- ";
  EXPECT_EQ(window_->LogText(), expected);
  QString shown = Find<QPlainTextEdit>(QStringLiteral("txtStatus"))->toPlainText();
  EXPECT_EQ(shown.toStdString(), QString::fromStdString(expected)
                                     .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                     .toStdString());
}

TEST_F(WindowTest, AppendKeepsTheCaretAtTheEnd) {
  auto* log = Find<QPlainTextEdit>(QStringLiteral("txtStatus"));
  QTextCursor c = log->textCursor();
  c.setPosition(3);
  log->setTextCursor(c);
  QCoreApplication::processEvents();  // shown on the screen
  PaintCount painted(log->viewport()), queued(log, QEvent::MetaCall);
  for (int i = 0; i < 60; ++i) window_->AggiungiStato("");  // more lines than the box shows
  // Text from outside cannot forge a line of its own: control characters
  // and the Unicode separators and bidirectional controls show as escapes,
  // bytes that are not UTF-8 as U+FFFD, the rest stays.
  window_->AggiungiStato("riga A\r\n- Controllo varnok.exe....CANCELLATO");
  EXPECT_GT(painted.count, 0);  // at once, before the event loop runs
  QCoreApplication::processEvents();
  EXPECT_EQ(queued.count, 0);  // a line leaves nothing queued for the loop
  EXPECT_EQ(log->textCursor().position(), log->document()->characterCount() - 1);
  EXPECT_TRUE(
      window_->LogText().ends_with("- \r\n- riga A\\r\\n- Controllo varnok.exe....CANCELLATO"));
  EXPECT_TRUE(log->toPlainText().endsWith(
      QStringLiteral("- \n- riga A\\r\\n- Controllo varnok.exe....CANCELLATO")));
  const std::pair<std::string, std::string> shown[] = {
      {"più \t\x1b[2J\x7f", "più \\t\\x1B[2J\\x7F"},
      // NEL; NBSP, U+2027, U+202F and U+206A are text
      {"\xc2\x85 \xc2\xa0 \xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xaa",
       "\\u0085 \xc2\xa0 \xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xaa"},
      {"a\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9z",
       "a\\u2028\\u2029\\u202A\\u202E\\u2066\\u2069z"},  // separators, bidi controls
      {"a\xff"
       "b\xc0\xaf"
       "c\xed\xa0\x80"
       "d\xf4\x90\x80\x80"
       "e\xe2\x82",
       "a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFDd\uFFFD\uFFFD\uFFFD\uFFFDe\uFFFD\uFFFD"},
  };
  for (const auto& [given, expected] : shown) {
    EXPECT_EQ(Printable(given), expected) << given;
  }
}

TEST_F(WindowTest, FocusStartsOnAggiornaAndFollowsTheTabOrder) {
  QApplication::setActiveWindow(window_.get());
  EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>(QStringLiteral("Command1")));
  QStringList order;
  QWidget* w = Find<QWidget>(QStringLiteral("Command1"));
  for (int i = 0; i < 26; ++i) {
    order << w->objectName();
    w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus || !w->isVisible()) w = w->nextInFocusChain();
  }
  QStringList expected = {QStringLiteral("Command1"), QStringLiteral("Command2"),
                          QStringLiteral("txtStatus")};
  for (int slot = 0; slot < kSlotCount; ++slot) expected << QStringLiteral("aa1_%1").arg(slot);
  expected << QStringLiteral("Picture1") << QStringLiteral("Command3");
  expected << QStringLiteral("Command1");
  EXPECT_EQ(order.mid(0, expected.size()), expected);
}

TEST_F(WindowTest, WindowIsCentred) {
  QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  QRect frame = window_->frameGeometry();
  if (frame.width() > screen.width()) {  // Qt's offscreen screen, 800 pixels wide
    EXPECT_EQ(frame.left(), screen.left());
  } else {
    EXPECT_LE(std::abs(frame.center().x() - screen.center().x()), 1);
  }
  EXPECT_LE(std::abs(frame.center().y() - screen.center().y()), 1);
}

TEST_F(WindowTest, SmallerWindowScalesControlsFontsAndPictures) {
  AggSoftware small(0.75);
  EXPECT_EQ(small.size(), QSize(756, 548));
  auto* aggiorna = small.findChild<QToolButton*>(QStringLiteral("Command1"));
  EXPECT_EQ(aggiorna->geometry(), QRect(6, 474, 217, 61));
  EXPECT_EQ(aggiorna->font().pixelSize(), 10);
  EXPECT_EQ(aggiorna->iconSize(), QSize(24, 24));
  EXPECT_EQ(small.findChild<QLabel*>(QStringLiteral("Picture1"))->pixmap().size(), QSize(162, 137));
}

// Work areas of real screens under Windows' 40-pixel taskbar; at 150 % Qt
// gives 1920x1080 as 1280x720.
TEST(WindowPlacement, WholeFrameOnTheWorkArea) {
  struct Case {
    ScreenArea area;
    FrameMargins frame;
    double scale;
    int x, y;
  } cases[] = {
      {{0, 0, 1920, 1040}, kWindows10Frame, 1, 448, 135},  // 100 %: as ever
      {{0, 0, 1366, 728}, kWindows10Frame, 689.0 / 730, 199, 0},
      {{0, 40, 1366, 728}, kWindows10Frame, 689.0 / 730, 199, 40},  // taskbar on top
      {{0, 0, 1280, 680}, kWindows10Frame, 641.0 / 730, 189, 0},    // 150 %
      {{0, 0, 1280, 720}, {0, 0, 0, 0}, 720.0 / 730, 143, 0},       // Xvfb
  };
  for (const Case& c : cases) {
    WindowPlacement p = PlaceWindow(c.area, c.frame, 1008, 730);
    EXPECT_DOUBLE_EQ(p.scale, c.scale) << c.area.height;
    EXPECT_EQ(QPoint(p.frame.x, p.frame.y), QPoint(c.x, c.y)) << c.area.height;
    EXPECT_LE(p.frame.x + c.frame.left + Scaled(1008, p.scale) + c.frame.right, c.area.width);
    EXPECT_LE(p.frame.y + c.frame.top + Scaled(730, p.scale) + c.frame.bottom,
              c.area.y + c.area.height);
  }
  WindowPlacement tiny = PlaceWindow({0, 0, 400, 300}, kWindows10Frame, 1008, 730);
  EXPECT_EQ(tiny.scale, 0.5);
  EXPECT_EQ(QPoint(tiny.frame.x, tiny.frame.y), QPoint(0, 0));  // the title bar still on the screen
}

TEST(FontFamily, ScalableSansSerifBeforeTheBitmapOne) {
  auto on = [](std::set<std::string> fonts) {
    return [fonts](const std::string& f) { return fonts.count(f) > 0; };
  };
  EXPECT_EQ(ChooseFontFamily("MS Sans Serif", on({"MS Sans Serif", "Microsoft Sans Serif"})),
            "Microsoft Sans Serif");  // Windows
  EXPECT_EQ(ChooseFontFamily("MS Sans Serif", on({"DejaVu Sans"})), "DejaVu Sans");
  EXPECT_EQ(ChooseFontFamily("Arial Rounded MT Bold", on({"Arial", "DejaVu Sans"})), "Arial");
}

TEST_F(WindowTest, BoxClickRunsTheRunningInstanceCheck) {
  Box(19)->click();
  EXPECT_TRUE(window_->LogText().ends_with(
      "- Controllo Memoria vendix.exe\r\n- Controllo vendix.exe....NON ESISTE"))
      << window_->LogText();
  Box(19)->click();  // unticking the last ticked box writes nothing
  EXPECT_TRUE(window_->LogText().ends_with("- Controllo vendix.exe....NON ESISTE"));
}

TEST_F(WindowTest, UscitaClosesTheWindow) {
  QSignalSpy destroyed(window_.get(), &QObject::destroyed);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  Find<QToolButton>(QStringLiteral("Command2"))->click();
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(WindowTest, CloseDuringAHandlerWaitsForItsEnd) {
  bool visible_inside = false;
  window_->RunHandler([&] {
    window_->ShowProgress("40% - 1,2 MB di 3,0 MB");
    window_->close();
    window_->KeepAlive();
    visible_inside = window_->isVisible();
    // A transfer under way ends at once, and the window says why it waits.
    EXPECT_TRUE(ftp_.cancelled());
    EXPECT_EQ(Find<QLabel>(QStringLiteral("Progress"))->text(), "CHIUSURA IN CORSO...");
    window_->ShowProgress("");
    EXPECT_TRUE(Find<QLabel>(QStringLiteral("Progress"))->isVisible());
    // Clicks that arrive meanwhile are not handled.
    QTest::mouseClick(Box(0), Qt::LeftButton);
    window_->KeepAlive();
  });
  EXPECT_TRUE(visible_inside);
  EXPECT_EQ(Box(0)->checkState(), Qt::Unchecked);
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(WindowTest, BusyLabelProgressAndPointer) {
  window_->ShowBusy(true);
  EXPECT_TRUE(Find<QLabel>(QStringLiteral("Label4"))->isVisible());
  QLabel* progress = Find<QLabel>(QStringLiteral("Progress"));
  EXPECT_FALSE(progress->isVisible());  // only while a file downloads
  window_->ShowProgress("40% - 1,2 MB di 3,0 MB");
  EXPECT_TRUE(progress->isVisible());
  EXPECT_EQ(progress->text(), "40% - 1,2 MB di 3,0 MB");
  window_->ShowProgress("");
  EXPECT_FALSE(progress->isVisible());
  window_->SetPointer(Pointer::kHourglass);
  EXPECT_EQ(window_->cursor().shape(), Qt::WaitCursor);
  window_->ShowBusy(false);
  window_->SetPointer(Pointer::kArrow);
  EXPECT_FALSE(Find<QLabel>(QStringLiteral("Label4"))->isVisible());
  EXPECT_EQ(window_->cursor().shape(), Qt::ArrowCursor);

  // A handler's pauses paint what it changed. Whatever it throws, the window
  // says so and is left idle, and a close asked meanwhile still happens.
  PaintCount painted(progress);
  auto idle = [&] {
    EXPECT_FALSE(window_->Running());
    EXPECT_FALSE(Find<QLabel>(QStringLiteral("Label4"))->isVisible());
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(window_->cursor().shape(), Qt::ArrowCursor);
  };
  window_->RunHandler([&] {
    window_->ShowBusy(true);
    window_->SetPointer(Pointer::kHourglass);
    window_->ShowProgress("41% - 1,3 MB di 3,0 MB");
    window_->KeepAlive();
    EXPECT_GT(painted.count, 0);
    throw 42;
  });
  idle();
  EXPECT_TRUE(window_->LogText().ends_with("- \r\n- Errore interno")) << window_->LogText();
  window_->RunHandler([&] {
    window_->ShowBusy(true);
    window_->close();
    throw std::out_of_range("slot 20");
  });
  idle();
  EXPECT_TRUE(window_->LogText().ends_with("- Errore interno\r\n- Errore interno: slot 20"));
  EXPECT_FALSE(window_->isVisible());
}

TEST(Application, MissingPrefixIsNamedAndNothingIsCreated) {
  if (testing::OnWindows()) GTEST_SKIP() << "Windows has no Wine prefix to miss";
  TempPrefix t;
  fs::path missing = t.root() / "no-wine";
  qputenv("WINEPREFIX", QByteArray::fromStdString(missing.string()));
  Application app;
  Status s = app.Open();
  qunsetenv("WINEPREFIX");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find(missing.string()), std::string::npos);
  EXPECT_FALSE(fs::exists(missing));
}

TEST(Application, CurrentDirectoryOutsideEveryShopDrive) {
  TempPrefix t;
  testing::ProgramDrives drives(t);
  fs::path saved = fs::current_path();
  auto open_in = [&](const fs::path& folder) {
    fs::current_path(folder);
    Application app;
    Status s = app.Open();
    fs::current_path(saved);
    EXPECT_FALSE(s.ok());
    return s.message();
  };
#ifndef _WIN32
  EXPECT_NE(open_in(t.root()).find(t.root().string()), std::string::npos);
  // Wine's usual z:, the whole file system, holds every folder, but is no
  // work drive: the scan would create /drubel.
  fs::create_directory_symlink("/", t.prefix() / "dosdevices" / "z:");
#endif
  const fs::path on_z = testing::OnWindows() ? fs::path("Z:\\tmp") : t.root();
  if (!fs::exists(on_z)) GTEST_SKIP() << "no drive of the whole file system here";
  std::string said = open_in(on_z);
  EXPECT_NE(said.find("sull'unità Z:, che contiene l'intero file system"), std::string::npos)
      << said;
  EXPECT_FALSE(fs::exists(t.Drive('d') / "drubel"));
  EXPECT_FALSE(fs::exists(testing::OnWindows() ? fs::path("Z:\\drubel") : fs::path("/drubel")));
}

// Works in `folder` for the life of the object.
struct InFolder {
  explicit InFolder(const fs::path& folder) : saved(fs::current_path()) {
    fs::current_path(folder);
  }
  ~InFolder() { fs::current_path(saved); }
  fs::path saved;
};

TEST(Application, OpensOnTheDriveOfTheCurrentDirectoryOneWindowAtATime) {
  TempPrefix t;
  fs::create_directories(t.Drive('d') / "negozio");
  InFolder here(t.Drive('d') / "negozio");
  testing::ProgramDrives drives(t);
  auto first = std::make_unique<Application>();
  Status s = first->Open();
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(first->window().findChild<QComboBox*>(QStringLiteral("Drive1"))->currentText(), "d:");
  EXPECT_TRUE(fs::is_directory(t.Drive('d') / "drubel"));
  EXPECT_TRUE(first->window().isVisible());

  // A second window on the drive says so and ends, touching nothing: not
  // even the log file, which the first one writes.
  const fs::path log = t.Drive('d') / "drubel" / "avendro.log";
  const auto written = fs::file_size(log);
  const std::string taken =
      "Avendro è già aperto sull'unità D: (un'altra finestra lavora sugli stessi programmi).";
  EXPECT_EQ(Application().Open().message(), taken);
  EXPECT_EQ(fs::file_size(log), written);
  first.reset();
  EXPECT_TRUE(Application().Open().ok());

#ifndef _WIN32
  // Held by another program that is then killed: the drive is free at once.
  pid_t holder = fork();
  if (holder == 0) {
    // The shell waits for the drive (the windows of this test take it now
    // and then) and becomes the sleep that holds it, so killing it frees it.
    const std::string hold = "exec 9<'" + t.Drive('d').string() + "' && flock 9 && exec sleep 60";
    execl("/bin/sh", "sh", "-c", hold.c_str(), nullptr);
    _exit(127);
  }
  std::string said;
  // A loaded machine can take seconds to start the shell.
  for (int i = 0; i < 1500 && said != taken; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    said = Application().Open().message();
  }
  EXPECT_EQ(said, taken);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_TRUE(Application().Open().ok());
#endif
}

}  // namespace
}  // namespace avendro

int main(int argc, char** argv) {
  // The window tests need no display.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  avendro::InstallFontSubstitutes();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
