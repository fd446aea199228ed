#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <functional>

#include "app/form_layout.h"
#include "catalogue/catalogue.h"
#include "port/window_port.h"
#include "shell/status_log.h"

namespace avendro {

class Session;

// Window positions are given in twips: 15 to a pixel at full size.
constexpr int Px(int twips) { return twips / 15; }

// The client area at full size.
constexpr int kFormWidth = Px(15120);
constexpr int kFormHeight = Px(10950);

// The one window, agg_software. Controls carry their names as object names.
class AggSoftware : public QWidget, public WindowPort {
  Q_OBJECT

 public:
  // At `scale` (at most 1) everything is drawn smaller alike: controls,
  // fonts and pictures, for a screen that cannot hold the full size.
  explicit AggSoftware(double scale = 1, QWidget* parent = nullptr);
  ~AggSoftware() override;

  // The load sequence of `session`, which must outlive the window, through
  // this window; `drive_text` is what Drive1 shows of the session's drive
  // (its letter, maybe a volume label), never read back. From then on
  // "AGGIORNA" and "INSTALLA" are the session's runs.
  void Load(Session& session, const QString& drive_text);

  // Shows the window centred on the screen's work area, focus on Command1;
  // where it does not fit, its frame starts at the work area's top or left.
  void ShowCentred();

  // WindowPort
  void AggiungiStato(const std::string& line) override;
  int BoxValue(int slot) override;
  void MarkInstalled(int slot) override;
  bool AskYesNo(Question question, const std::string& prompt, const std::string& title,
                bool no_default) override;
  void SetPointer(Pointer pointer) override;
  void ShowBusy(bool visible) override;
  void KeepAlive() override;
  void ShowProgress(const std::string& text) override;

  // The exact text of the status log, lines joined by CR LF.
  const std::string& LogText() const { return log_.text(); }
  bool Running() const { return running_; }

  // Runs a handler to its end; clicks, keys and close requests that arrive
  // meanwhile are not handled (a close request is carried out afterwards).
  // An exception that ends the handler is logged as an internal error and
  // the window is left idle; it never reaches the event loop.
  void RunHandler(const std::function<void()>& handler);

  // The handlers of the controls.
  void OnBoxClicked(int slot);
  void OnCommand1();
  void OnCommand3();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildPictureAndDrive();
  void BuildProgramBoxes();
  void BuildStatusLog();
  void BuildLabels();
  void SetTabOrder();
  // The size of `twips` in this window's pixels.
  int Px(int twips) const;
  // Places a control at a place of the form, given in twips.
  void Place(QWidget* w, const FormRect& place) const;
  // Logs `line` and puts the window back as an ended run leaves it.
  void EndBrokenRun(const std::string& line);

  const double scale_;
  StatusLog log_;
  Session* session_ = nullptr;
  bool running_ = false;
  bool asking_ = false;
  bool close_requested_ = false;
  bool log_pending_ = false;  // lines written while the window was hidden

  QToolButton* command3_ = nullptr;
  QTimer* timer1_ = nullptr;
  QLabel* picture1_ = nullptr;
  QComboBox* drive1_ = nullptr;
  QGroupBox* frame1_ = nullptr;
  std::array<QCheckBox*, kSlotCount> aa1_{};
  QPlainTextEdit* txtStatus_ = nullptr;
  QToolButton* command2_ = nullptr;
  QToolButton* command1_ = nullptr;
  QLabel* label9_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* label4_ = nullptr;
  QLabel* label3_ = nullptr;
  QLabel* progress_ = nullptr;  // a download's progress, under Label4
};

}  // namespace avendro
