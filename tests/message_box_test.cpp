#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <utility>

#include "app/main_window.h"
#include "tests/update_fixture.h"
#include "update/ftp.h"

namespace avendro {
namespace {

using testing::LogOf;
using testing::TempPrefix;

// What a message box showed.
struct Shown {
  QString title, text, default_button;
  QStringList buttons;
  QMessageBox::Icon icon = QMessageBox::Information;
};

// Answers the next message boxes, in order, pressing the button with the
// given text and recording what each box showed.
class Operator {
 public:
  // `meanwhile` runs while the first box is open, before it is answered.
  explicit Operator(QStringList presses, std::function<void()> meanwhile = nullptr)
      : presses_(std::move(presses)), meanwhile_(std::move(meanwhile)) {
    Poll();
  }
  const std::vector<Shown>& shown() const { return shown_; }

 private:
  void Poll() {
    if (presses_.isEmpty()) return;
    QTimer::singleShot(10, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return Poll();
      Shown s{box->windowTitle(), box->text(), {}, {}, box->icon()};
      if (box->defaultButton() != nullptr) s.default_button = box->defaultButton()->text();
      for (QAbstractButton* b : box->buttons()) s.buttons << b->text();
      shown_.push_back(s);
      if (meanwhile_) std::exchange(meanwhile_, nullptr)();
      QString press = presses_.takeFirst();
      for (QAbstractButton* b : box->buttons()) {
        if (b->text() == press) b->click();
      }
      Poll();
    });
  }

  QStringList presses_;
  std::function<void()> meanwhile_;
  std::vector<Shown> shown_;
};

struct Window {
  Window() : window(platform) {
    window.Load(QStringLiteral("d: [LAVORO]"));
    window.UseFtp(ftp);
  }
  void Press(const char* name) {
    window.findChild<QToolButton*>(QString::fromLatin1(name))->click();
  }
  // The log lines written after start-up.
  std::string Log() const {
    const std::string startup = LogOf({"===== CONTROLLO PROGRAMMI SU DISCO ======", "", "",
                                       "== CONTROLLO PROG IN MEMORIA  ======", ""});
    std::string text = window.LogText();
    return text.size() > startup.size() + 2 ? text.substr(startup.size() + 2) : "";
  }
  TempPrefix t;
  std::unique_ptr<FileSystem> files = testing::SystemFileSystem(t);
  testing::UnusedProcesses processes;
  std::unique_ptr<Launcher> launcher = testing::SystemLauncher();
  testing::NoDetails details;
  Platform platform{*files, processes, *launcher, details};
  Ftp ftp{*files};
  AggSoftware window;
};

TEST(MessageBoxes, ConfirmationAndArchiverQuestion) {
  Window w;  // no d:\drubel\rar.exe
  Operator op({QStringLiteral("Sì"), QStringLiteral("No")});
  w.Press("Command1");
  ASSERT_EQ(op.shown().size(), 2u);

  const Shown& confirm = op.shown()[0];
  EXPECT_EQ(confirm.title, QStringLiteral("Aggiornamento software"));
  EXPECT_EQ(confirm.text, QStringLiteral("Sei sicuro di voler procedere"));
  EXPECT_EQ(confirm.buttons, (QStringList{QStringLiteral("Sì"), QStringLiteral("No")}));
  EXPECT_EQ(confirm.default_button, QStringLiteral("No"));
  EXPECT_EQ(confirm.icon, QMessageBox::NoIcon);

  const Shown& rar = op.shown()[1];
  EXPECT_EQ(rar.title, QStringLiteral("Avendro"));
  EXPECT_EQ(rar.text, QStringLiteral("Winrar Non esiste .Cliccare su SI per installarlo "));
  EXPECT_EQ(rar.buttons, (QStringList{QStringLiteral("Sì"), QStringLiteral("No")}));
  EXPECT_EQ(rar.default_button, QStringLiteral("Sì"));
  EXPECT_EQ(rar.icon, QMessageBox::NoIcon);

  EXPECT_EQ(w.Log(),
            LogOf({"Verifica esistenza Winrar", "Controllo Winrar sul Disco...NON ESISTE"}));
  EXPECT_FALSE(w.window.Running());
  EXPECT_EQ(w.window.cursor().shape(), Qt::ArrowCursor);
}

TEST(MessageBoxes, NoAtTheConfirmationOfEachButton) {
  Window w;
  {
    Operator op({QStringLiteral("No")});
    w.Press("Command3");  // INSTALLA: nothing logged
    ASSERT_EQ(op.shown().size(), 1u);
    EXPECT_EQ(op.shown()[0].title, QStringLiteral("Aggiornamento software"));
    EXPECT_EQ(op.shown()[0].default_button, QStringLiteral("No"));
  }
  EXPECT_EQ(w.Log(), "");
  {
    Operator op({QStringLiteral("No")});
    w.Press("Command1");  // AGGIORNA: the closing lines
    ASSERT_EQ(op.shown().size(), 1u);
  }
  EXPECT_EQ(w.Log(), LogOf(testing::ClosingLines()));
  EXPECT_FALSE(w.window.findChild<QLabel*>(QStringLiteral("Label4"))->isVisible());
}

TEST(MessageBoxes, ClosingTheWindowDuringARunTakesEffectAtItsEnd) {
  Window w;
  w.window.show();
  Operator op({QStringLiteral("Sì"), QStringLiteral("No")}, [&] { w.window.close(); });
  w.Press("Command1");
  ASSERT_EQ(op.shown().size(), 2u);  // the run went on to its end
  EXPECT_EQ(w.Log(),
            LogOf({"Verifica esistenza Winrar", "Controllo Winrar sul Disco...NON ESISTE"}));
  EXPECT_FALSE(w.window.isVisible());
}

}  // namespace
}  // namespace avendro

int main(int argc, char** argv) {
  // Test discovery runs this program too, without a display.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
