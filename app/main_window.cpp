#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFontDatabase>
#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMessageBox>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <exception>

#include "app/font_families.h"
#include "app/form_layout.h"
#include "app/window_placement.h"
#include "shell/session.h"

static void InitArtwork() { Q_INIT_RESOURCE(artwork); }

namespace avendro {
namespace {

// The best installed family for the one the form names: naming an installed
// family spares Qt a search per font.
QString Family(const char* wanted) {
  static QHash<QString, QString> resolved;
  QString family = QString::fromLatin1(wanted);
  auto it = resolved.find(family);
  if (it != resolved.end()) return *it;
  QString use = QString::fromStdString(ChooseFontFamily(wanted, [](const std::string& name) {
    return QFontDatabase::hasFamily(QString::fromStdString(name));
  }));
  resolved.insert(family, use);
  return use;
}

// Point sizes become pixel sizes at 96 dots per inch, like the twips.
QFont Font(const char* family, double points, bool bold, double scale) {
  QFont font(Family(family));
  font.setPixelSize(static_cast<int>(points * 96.0 / 72.0 * scale + 0.5));
  font.setBold(bold);
  return font;
}

void SetColours(QWidget* w, const QColor& background, const QColor& text, bool fill = true) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, background);
  p.setColor(QPalette::Base, background);
  p.setColor(QPalette::Button, background);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::ButtonText, text);
  w->setPalette(p);
  w->setAutoFillBackground(fill);
}

// A picture of the resources at `scale`. Naming the format spares loading
// every image plugin to find out which one reads it.
QPixmap Artwork(const char* name, const char* format, double scale = 1) {
  QPixmap picture(QStringLiteral(":/artwork/") + QLatin1String(name), format);
  if (scale == 1) return picture;
  return picture.scaled(Scaled(picture.width(), scale), Scaled(picture.height(), scale),
                        Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QToolButton* MakeButton(QWidget* parent, const char* name, const char* caption,
                        const QColor& background, double points, const char* picture,
                        double scale) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setText(QString::fromLatin1(caption));
  b->setIcon(QIcon(Artwork(picture, "PNG", scale)));
  b->setIconSize(QSize(Scaled(32, scale), Scaled(32, scale)));
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setFocusPolicy(Qt::StrongFocus);
  b->setFont(Font("MS Sans Serif", points, true, scale));
  b->setStyleSheet(QStringLiteral("QToolButton { background-color: %1; border: 2px outset %1; }"
                                  "QToolButton:pressed { border-style: inset; }"
                                  "QToolButton:focus { border-color: #404040; }")
                       .arg(background.name()));
  return b;
}

}  // namespace

AggSoftware::AggSoftware(double scale, QWidget* parent) : QWidget(parent), scale_(scale) {
  InitArtwork();
  setObjectName(QStringLiteral("agg_software"));
  setWindowTitle(QStringLiteral("Aggiornamento Software"));
  setWindowIcon(QIcon(Artwork("icon.png", "PNG")));
  setFixedSize(Px(15120), Px(10950));
  SetColours(this, QColor(255, 255, 255), QColor(0, 0, 0));
  BuildControls();
  qApp->installEventFilter(this);
}

AggSoftware::~AggSoftware() { qApp->removeEventFilter(this); }

int AggSoftware::Px(int twips) const { return Scaled(avendro::Px(twips), scale_); }

void AggSoftware::Place(QWidget* w, const FormRect& place) const {
  w->setGeometry(Px(place.left), Px(place.top), Px(place.width), Px(place.height));
}

// The controls are made in the form's order, which is also their stacking
// order: a later one lies above an earlier one where they overlap.
void AggSoftware::BuildControls() {
  command3_ =
      MakeButton(this, "Command3", "INSTALLA", QColor(192, 192, 255), 9.75, "aggiorna.png", scale_);
  Place(command3_, kCommand3Place);

  timer1_ = new QTimer(this);  // ticks every second; nothing listens
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(1000);
  timer1_->start();

  BuildPictureAndDrive();
  BuildProgramBoxes();
  BuildStatusLog();

  command2_ =
      MakeButton(this, "Command2", "USCITA", QColor(255, 192, 192), 12, "uscita.png", scale_);
  Place(command2_, kCommand2Place);
  connect(command2_, &QToolButton::clicked, this, [this] { close(); });

  command1_ =
      MakeButton(this, "Command1", "AGGIORNA", QColor(192, 255, 192), 9.75, "aggiorna.png", scale_);
  Place(command1_, kCommand1Place);
  connect(command1_, &QToolButton::clicked, this, [this] { RunHandler([this] { OnCommand1(); }); });
  connect(command3_, &QToolButton::clicked, this, [this] { RunHandler([this] { OnCommand3(); }); });

  BuildLabels();
  SetTabOrder();
}

void AggSoftware::BuildPictureAndDrive() {
  picture1_ = new QLabel(this);
  picture1_->setObjectName(QStringLiteral("Picture1"));
  picture1_->setPixmap(Artwork("logo.jpg", "JPG", scale_));
  picture1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picture1_->setFrameShape(QFrame::Panel);
  picture1_->setFrameShadow(QFrame::Sunken);
  picture1_->setFocusPolicy(Qt::TabFocus);
  SetColours(picture1_, QColor(255, 255, 255), QApplication::palette().color(QPalette::WindowText));
  Place(picture1_, kPicture1Place);

  drive1_ = new QComboBox(this);
  drive1_->setObjectName(QStringLiteral("Drive1"));
  Place(drive1_, kDrive1Place);
  drive1_->hide();
}

namespace {

// The form's flat check boxes (slots 0 to 15): the square is a plain dark
// one-pixel border, white inside (grey when disabled or greyed), without the
// 3-D bevel, the box's own background around it.
class FlatCheckBoxStyle : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_IndicatorCheckBox) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    const bool plain = (option->state & State_Enabled) && !(option->state & State_NoChange);
    const QRectF r = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QColor(64, 64, 64));
    painter->setBrush(plain ? QColor(255, 255, 255) : QColor(240, 240, 240));
    painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
    if (option->state & (State_On | State_NoChange)) {
      painter->setRenderHint(QPainter::Antialiasing, true);
      painter->setPen(QPen(plain ? QColor(0, 0, 0) : QColor(128, 128, 128),
                           std::max(1.5, r.width() / 7), Qt::SolidLine, Qt::RoundCap));
      const QPointF mark[] = {{0.22, 0.50}, {0.42, 0.72}, {0.78, 0.28}};
      QPolygonF line;
      for (const QPointF& m : mark) {
        line << QPointF(r.left() + m.x() * r.width(), r.top() + m.y() * r.height());
      }
      painter->drawPolyline(line);
    }
    painter->restore();
  }
};

}  // namespace

void AggSoftware::BuildProgramBoxes() {
  const QColor window_text = QApplication::palette().color(QPalette::WindowText);
  frame1_ = new QGroupBox(QStringLiteral("Programmi"), this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  frame1_->setFont(Font("MS Sans Serif", 8.25, false, scale_));
  SetColours(frame1_, QColor(240, 240, 240), window_text);
  Place(frame1_, kFrame1Place);
  // A widget does not own its style; made after the frame, this one
  // outlives the boxes.
  auto* flat = new FlatCheckBoxStyle;
  flat->setParent(this);

  for (int slot = 0; slot < kSlotCount; ++slot) {
    auto* box = new QCheckBox(
        QString::fromUtf8(Row(slot).caption.data(), static_cast<int>(Row(slot).caption.size())),
        frame1_);
    box->setObjectName(QStringLiteral("aa1_%1").arg(slot));
    box->setProperty("Index", slot);
    Place(box, kBoxPlaces[static_cast<size_t>(slot)]);
    if (slot < kProductCount) {
      SetColours(box, QColor(255, 255, 255), window_text);
      box->setStyle(flat);
    }
    connect(box, &QCheckBox::clicked, this, [this, slot] { OnBoxClicked(slot); });
    aa1_[static_cast<size_t>(slot)] = box;
  }
}

void AggSoftware::BuildStatusLog() {
  txtStatus_ = new QPlainTextEdit(this);
  txtStatus_->setObjectName(QStringLiteral("txtStatus"));
  txtStatus_->setReadOnly(true);
  txtStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  txtStatus_->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtStatus_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtStatus_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtStatus_->setFrameShape(QFrame::Box);
  txtStatus_->setFont(Font("MS Sans Serif", 8.25, false, scale_));
  txtStatus_->setFocusPolicy(Qt::StrongFocus);
  SetColours(txtStatus_, QColor(255, 255, 192), QColor(0, 0, 0));
  Place(txtStatus_, kTxtStatusPlace);
  // A read-only log is never undone: without the history, the box keeps
  // only its text.
  txtStatus_->setUndoRedoEnabled(false);
  // Both scroll bars are always on, so a new range never shows or hides one;
  // Qt still queues a layout pass for each change of range. A run that
  // writes many lines before the event loop runs again would leave one per
  // line in the queue, which every later paint request searches.
  for (QScrollBar* bar : {txtStatus_->horizontalScrollBar(), txtStatus_->verticalScrollBar()}) {
    QObject::disconnect(bar, &QAbstractSlider::rangeChanged, txtStatus_, nullptr);
  }
}

void AggSoftware::BuildLabels() {
  const QColor white(255, 255, 255);
  label9_ = new QLabel(this);
  label9_->setObjectName(QStringLiteral("Label9"));
  label9_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label9_->setFont(Font("Arial Rounded MT Bold", 11.25, false, scale_));
  SetColours(label9_, white, QColor(0, 0, 255));
  Place(label9_, kLabel9Place);

  label1_ = new QLabel(
      QStringLiteral("Selezionare  i programmi desiderati elencati nella tabella a sinistra e "
                     "procedere con l'operazione selezionata."),
      this);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label1_->setWordWrap(true);
  label1_->setFont(Font("MS Sans Serif", 9.75, true, scale_));
  SetColours(label1_, white, QColor(0, 0, 255), false);
  Place(label1_, kLabel1Place);

  label4_ = new QLabel(QStringLiteral("ATTENDERE..."), this);
  label4_->setObjectName(QStringLiteral("Label4"));
  label4_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label4_->setFont(Font("MS Sans Serif", 24, true, scale_));
  SetColours(label4_, QColor(255, 255, 0), QColor(255, 0, 0));
  Place(label4_, kLabel4Place);
  label4_->hide();

  progress_ = new QLabel(this);
  progress_->setObjectName(QStringLiteral("Progress"));
  progress_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  progress_->setFont(Font("MS Sans Serif", 9.75, true, scale_));
  SetColours(progress_, white, QColor(255, 0, 0), false);
  Place(progress_, kProgressPlace);
  progress_->hide();

  label3_ = new QLabel(QStringLiteral("   Procedura di aggiornamento  Software "), this);
  label3_->setObjectName(QStringLiteral("Label3"));
  label3_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label3_->setWordWrap(true);
  label3_->setFrameShape(QFrame::Box);
  label3_->setFont(Font("MS Sans Serif", 18, true, scale_));
  SetColours(label3_, white, QColor(255, 0, 0), false);
  Place(label3_, kLabel3Place);
}

// Tab order by the numbers of the form; labels and the frame take no focus.
void AggSoftware::SetTabOrder() {
  QList<QWidget*> order = {command1_, command2_, txtStatus_, drive1_};
  for (int slot = 0; slot < kSlotCount; ++slot) order.push_back(aa1_[static_cast<size_t>(slot)]);
  order.push_back(picture1_);
  order.push_back(command3_);
  // Drive1 (15) stands between slots 8 and 9.
  order.removeOne(drive1_);
  order.insert(order.indexOf(aa1_[9]), drive1_);
  for (int i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
}

void AggSoftware::Load(Session& session, const QString& drive_text) {
  session_ = &session;
  drive1_->addItem(drive_text);
  drive1_->setCurrentIndex(0);
  std::string caption = session.Start(*this, "finestra");
  label9_->setText(QString::fromStdString(caption));
  // The end of a started script is looked at only while the window is
  // idle, so that its line never cuts into the lines of a run.
  auto* script_watch = new QTimer(this);
  script_watch->setInterval(500);
  connect(script_watch, &QTimer::timeout, this, [this] {
    if (!running_) (void)session_->ReportEndedScripts();
  });
  script_watch->start();
}

void AggSoftware::ShowCentred() {
  show();
  // move() places the frame, which is known only now: the scale was chosen
  // for an estimate of it.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    const FramePosition at = PlaceFrame({area.x(), area.y(), area.width(), area.height()},
                                        frameGeometry().width(), frameGeometry().height());
    move(at.x, at.y);
  }
  activateWindow();
  command1_->setFocus(Qt::OtherFocusReason);
}

namespace {

// The widget shows the log's lines; its blocks stand for the CR LFs.
QString Shown(const std::string& text) {
  QString shown = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

}  // namespace

void AggSoftware::AggiungiStato(const std::string& line) {
  std::string added = log_.Append(line);
  if (!isVisible()) {
    // Nothing to paint yet: the box gets the whole start-up log at once when
    // the window is shown.
    log_pending_ = true;
    return;
  }
  QString shown = Shown(added);
  if (shown.startsWith(QLatin1Char('\n'))) shown.remove(0, 1);
  txtStatus_->appendPlainText(shown);
  txtStatus_->moveCursor(QTextCursor::End);
  // Paint now what the append changed (the box scrolls by blitting, so only
  // the new line is drawn), without letting the message loop run. The
  // request is sent, not fetched from the queue: fetching one leaves its
  // empty slot in the queue until the loop runs, a slot per line.
  QEvent paint_now(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(this, &paint_now);
}

void AggSoftware::showEvent(QShowEvent* event) {
  if (log_pending_) {
    log_pending_ = false;
    txtStatus_->setPlainText(Shown(log_.text()));
    txtStatus_->moveCursor(QTextCursor::End);
  }
  QWidget::showEvent(event);
}

int AggSoftware::BoxValue(int slot) {
  switch (aa1_.at(static_cast<size_t>(slot))->checkState()) {
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
    default:
      return 0;
  }
}

void AggSoftware::MarkInstalled(int slot) {
  QCheckBox* box = aa1_.at(static_cast<size_t>(slot));
  SetColours(box, QColor(0, 255, 0), box->palette().color(QPalette::WindowText));
  box->setEnabled(true);
}

namespace {

// Windows' Yes/No boxes have no answer for Esc and no working close button:
// the operator must choose. QMessageBox takes its No button for both.
class YesNoBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Cancel)) return;
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

}  // namespace

bool AggSoftware::AskYesNo(Question /*question*/, const std::string& prompt,
                           const std::string& title, bool no_default) {
  YesNoBox box(this);
  box.setObjectName(QStringLiteral("MsgBox"));
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(title.empty() ? QStringLiteral("Avendro") : QString::fromStdString(title));
  box.setText(QString::fromStdString(prompt));
  QPushButton* yes = box.addButton(QStringLiteral("Sì"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
  yes->setObjectName(QStringLiteral("Yes"));
  no->setObjectName(QStringLiteral("No"));
  // The keys of Windows' own Italian boxes. The box answers the plain
  // letter of a button's shortcut as well; a shortcut rather than "&Sì"
  // leaves the captions without an underline.
  yes->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
  no->setShortcut(QKeySequence(Qt::ALT | Qt::Key_N));
  box.setDefaultButton(no_default ? no : yes);
  asking_ = true;
  box.exec();
  asking_ = false;
  return box.clickedButton() == yes;
}

void AggSoftware::SetPointer(Pointer pointer) {
  setCursor(pointer == Pointer::kHourglass ? Qt::WaitCursor : Qt::ArrowCursor);
}

void AggSoftware::ShowBusy(bool visible) {
  label4_->setVisible(visible);
  if (visible) label4_->repaint();
  repaint();
}

void AggSoftware::ShowProgress(const std::string& text) {
  if (close_requested_ && session_ != nullptr && session_->closing()) return;  // says it is closing
  progress_->setText(QString::fromStdString(text));
  progress_->setVisible(!text.empty());
}

void AggSoftware::KeepAlive() {
  // The event filter drops input while a handler runs, so only painting and
  // the window system's own traffic get through here.
  QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void AggSoftware::RunHandler(const std::function<void()>& handler) {
  if (running_) return;
  running_ = true;
  // Qt lets no exception through its event loop, and a run stopped half-way
  // must not leave the window busy for ever.
  try {
    handler();
  } catch (const std::exception& e) {
    EndBrokenRun(std::string("Errore interno: ") + e.what());
  } catch (...) {
    EndBrokenRun("Errore interno");
  }
  running_ = false;
  if (close_requested_) {
    close_requested_ = false;
    close();
  }
}

void AggSoftware::EndBrokenRun(const std::string& line) {
  if (session_ != nullptr) {
    session_->AggiungiStato(line);
  } else {
    AggiungiStato(line);
  }
  progress_->hide();  // even the closing notice: the window closes next
  ShowBusy(false);
  SetPointer(Pointer::kArrow);
}

void AggSoftware::OnBoxClicked(int /*slot*/) {
  if (session_ == nullptr) return;
  RunHandler([this] { (void)session_->ControlloProgMem(); });
}

void AggSoftware::OnCommand1() {
  if (session_ != nullptr) (void)session_->Aggiorna();
}

void AggSoftware::OnCommand3() {
  if (session_ != nullptr) session_->Installa();
}

void AggSoftware::closeEvent(QCloseEvent* event) {
  if (running_) {
    // A download would hold the window until it ends: stop it, let the run
    // take its usual way out, then close.
    close_requested_ = true;
    event->ignore();
    if (session_ != nullptr && !session_->closing()) {
      ShowProgress("CHIUSURA IN CORSO...");
      session_->Cancel();
    }
    return;
  }
  event->accept();
}

bool AggSoftware::eventFilter(QObject* watched, QEvent* event) {
  if (running_ && !asking_) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::Wheel:
      case QEvent::Shortcut:
      case QEvent::ShortcutOverride:
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace avendro
