// Draws the program's artwork into app/artwork: the window icon (also as
// icon.ico for the Windows executable), the two button pictures and the
// logo. Run once after changing a drawing:
//   cmake --build build --target make_artwork && build/tools/make_artwork app/artwork
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QImage Canvas(int w, int h, QColor fill = Qt::transparent) {
  QImage img(w, h, QImage::Format_ARGB32);
  img.fill(fill);
  return img;
}

// A circular arrow around (cx, cy), from `start` degrees through `span`.
void CircleArrow(QPainter& p, QPointF c, double r, double start, double span, QColor colour,
                 double width) {
  QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(box, static_cast<int>(start * 16), static_cast<int>(span * 16));
  double end = (start + span) * M_PI / 180.0;
  QPointF tip(c.x() + r * std::cos(end), c.y() - r * std::sin(end));
  QPointF along(-std::sin(end), -std::cos(end));  // direction of travel
  if (span < 0) along = -along;
  QPointF out(std::cos(end), -std::sin(end));
  QPolygonF head;
  head << tip + along * width * 1.4 << tip + out * width * 1.2 << tip - out * width * 1.2;
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPolygon(head);
}

QImage Aggiorna() {
  QImage img = Canvas(32, 32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(12, 10, 20);
  g.setColorAt(0, QColor(120, 220, 120));
  g.setColorAt(1, QColor(20, 130, 40));
  p.setPen(QPen(QColor(10, 80, 20), 1));
  p.setBrush(g);
  p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
  CircleArrow(p, {16, 16}, 8.5, 100, 150, Qt::white, 2.6);
  CircleArrow(p, {16, 16}, 8.5, 280, 150, Qt::white, 2.6);
  return img;
}

QImage Uscita() {
  QImage img = Canvas(32, 32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  // A door ajar with an arrow leaving it.
  p.setPen(QPen(QColor(90, 40, 20), 1.5));
  p.setBrush(QColor(170, 100, 50));
  p.drawRect(QRectF(4.5, 3.5, 15, 25));
  p.setBrush(QColor(210, 140, 80));
  QPolygonF leaf;
  leaf << QPointF(4.5, 3.5) << QPointF(13, 6) << QPointF(13, 31) << QPointF(4.5, 28.5);
  p.drawPolygon(leaf);
  p.setBrush(QColor(250, 220, 80));
  p.drawEllipse(QPointF(11, 17), 1.2, 1.2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 20, 20));
  QPolygonF arrow;
  arrow << QPointF(16, 14) << QPointF(23, 14) << QPointF(23, 9) << QPointF(31, 17)
        << QPointF(23, 25) << QPointF(23, 20) << QPointF(16, 20);
  p.drawPolygon(arrow);
  return img;
}

QImage Icon() {
  QImage img = Canvas(32, 32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 32);
  g.setColorAt(0, QColor(70, 130, 230));
  g.setColorAt(1, QColor(20, 50, 140));
  p.setPen(QPen(QColor(10, 30, 90), 1));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  QPolygonF down;
  down << QPointF(13, 6) << QPointF(19, 6) << QPointF(19, 15) << QPointF(24, 15) << QPointF(16, 24)
       << QPointF(8, 15) << QPointF(13, 15);
  p.drawPolygon(down);
  p.drawRect(QRectF(8, 25.5, 16, 2.5));
  return img;
}

QImage Logo() {
  QImage img = Canvas(216, 182, Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 182);
  sky.setColorAt(0, QColor(235, 243, 255));
  sky.setColorAt(1, QColor(190, 210, 245));
  p.fillRect(img.rect(), sky);
  // Sixteen small boxes, one per program, on a shelf.
  for (int i = 0; i < 16; ++i) {
    int col = i % 8, row = i / 8;
    QRectF r(22 + col * 22, 22 + row * 22, 17, 17);
    QColor c = QColor::fromHsv((i * 22) % 360, 120, 230);
    p.setPen(QPen(c.darker(160), 1));
    p.setBrush(c);
    p.drawRoundedRect(r, 3, 3);
  }
  CircleArrow(p, {108, 112}, 22, 100, 150, QColor(30, 120, 50), 5);
  CircleArrow(p, {108, 112}, 22, 280, 150, QColor(30, 120, 50), 5);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(26);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(20, 50, 140));
  p.drawText(QRectF(0, 140, 216, 36), Qt::AlignCenter, QStringLiteral("AVENDRO"));
  return img;
}

}  // namespace

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_artwork OUTPUT_FOLDER\n");
    return 2;
  }
  QString dir = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
  bool ok = Icon().save(dir + QStringLiteral("icon.png")) &&
            Icon().save(dir + QStringLiteral("icon.ico"), "ICO") &&
            Aggiorna().save(dir + QStringLiteral("aggiorna.png")) &&
            Uscita().save(dir + QStringLiteral("uscita.png")) &&
            Logo()
                .convertToFormat(QImage::Format_RGB32)
                .save(dir + QStringLiteral("logo.jpg"), "JPG", 92);
  return ok ? 0 : 1;
}
