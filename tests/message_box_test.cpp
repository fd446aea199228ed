#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <deque>
#include <functional>
#include <utility>

#include "app/main_window.h"
#include "channel/update_server.h"
#include "shell/session.h"
#include "tests/update_fixture.h"

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

// One answer to a box: a click on the button with the given caption, or a
// key typed as the operator types it, to the widget that has the focus.
struct Answer {
  Answer(QString caption) : caption(std::move(caption)) {}  // implicit: reads as the caption
  Answer(Qt::Key key, QString text) : key(key), text(std::move(text)) {}
  QString caption;
  Qt::Key key = Qt::Key_unknown;
  QString text;
};
const Answer kS{Qt::Key_S, QStringLiteral("s")};
const Answer kN{Qt::Key_N, QStringLiteral("n")};
const Answer kEnter{Qt::Key_Return, QStringLiteral("\r")};

// Answers the next message boxes, in order, and records what each box
// showed.
class Operator {
 public:
  // `meanwhile` runs while the first box is open, before it is answered.
  explicit Operator(std::vector<Answer> answers, std::function<void()> meanwhile = nullptr)
      : answers_(answers.begin(), answers.end()), meanwhile_(std::move(meanwhile)) {
    Poll();
  }
  const std::vector<Shown>& shown() const { return shown_; }

 private:
  void Poll() {
    if (answers_.empty()) return;
    QTimer::singleShot(10, &polls_, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      // A button pressed from the keyboard goes down for a moment before it
      // clicks, and the box stays open meanwhile.
      if (box == nullptr || !box->isVisible() || box == answered_) return Poll();
      Shown s{box->windowTitle(), box->text(), {}, {}, box->icon()};
      if (box->defaultButton() != nullptr) s.default_button = box->defaultButton()->text();
      for (QAbstractButton* b : box->buttons()) s.buttons << b->text();
      shown_.push_back(s);
      if (meanwhile_) std::exchange(meanwhile_, nullptr)();
      answered_ = box;
      Answer answer = answers_.front();
      answers_.pop_front();
      if (answer.key != Qt::Key_unknown) {
        Type(box, answer);
      } else {
        for (QAbstractButton* b : box->buttons()) {
          if (b->text() == answer.caption) b->click();
        }
      }
      Poll();
    });
  }

  static void Type(QMessageBox* box, const Answer& answer) {
    QWidget* to = QApplication::focusWidget();
    if (to == nullptr || to->window() != box) to = box;
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent event(type, answer.key, Qt::NoModifier, answer.text);
      QApplication::sendEvent(to, &event);
    }
    // Answered, or a button on its way down; else the test would wait for
    // ever on a box that ignores the key.
    bool taken = !box->isVisible();
    for (QAbstractButton* b : box->buttons()) taken = taken || b->isDown();
    if (!taken) {
      ADD_FAILURE() << "the box ignored the key " << answer.key;
      box->reject();
    }
  }

  std::deque<Answer> answers_;
  std::function<void()> meanwhile_;
  std::vector<Shown> shown_;
  QPointer<QMessageBox> answered_;  // null again once that box is gone
  QObject polls_;                   // a poll still due dies with the operator
};

struct Window {
  Window() { window.Load(session, QStringLiteral("d: [LAVORO]")); }
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
  UpdateServer ftp{*files};
  Session session{platform, ftp, 'd', "prova"};
  AggSoftware window;
};

TEST(MessageBoxes, ConfirmationAndArchiverQuestion) {
  Window w;  // no d:\drubel\rar.exe
  // Answered with the letters, as on Windows' own boxes.
  Operator op({kS, kN});
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

  // Where Sì is the default, Enter takes it and N still says No.
  for (const Answer& key : {kEnter, kN}) {
    Operator op({key});
    bool yes = key.key == Qt::Key_N;
    w.window.RunHandler([&] {
      yes = w.window.AskYesNo(Question::kInstallArchiver, "Installare Winrar?", "", false);
    });
    ASSERT_EQ(op.shown().size(), 1u);
    EXPECT_EQ(yes, key.key == Qt::Key_Return) << key.key;
  }
}

TEST(MessageBoxes, NoAtTheConfirmationOfEachButton) {
  Window w;
  {
    // As on Windows, Esc and the close button leave the question open.
    Operator op({kN}, [] {
      QWidget* box = QApplication::activeModalWidget();
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(box, &esc);
      EXPECT_TRUE(box->isVisible() && !box->close());
    });
    w.Press("Command3");  // INSTALLA: nothing logged
    ASSERT_EQ(op.shown().size(), 1u);
    EXPECT_EQ(op.shown()[0].title, QStringLiteral("Aggiornamento software"));
    EXPECT_EQ(op.shown()[0].default_button, QStringLiteral("No"));
  }
  EXPECT_EQ(w.Log(), "");
  {
    Operator op({kEnter});  // the default
    w.Press("Command1");    // AGGIORNA: the closing lines
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
