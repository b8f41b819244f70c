// Draws the window's pictures at build time: the three 32 x 32 toolbar
// images (search, start, exit), the 100 x 50 logo and the program's icon
// (window and notification area). Shapes only, no fonts, so the result is
// the same on every machine. Usage: draw_pictures OUTPUT_FOLDER
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRadialGradient>
#include <QString>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kNavy(0x1f, 0x3c, 0x88);
const QColor kBlue(0x2f, 0x6f, 0xd6);
const QColor kSky(0xcf, 0xe4, 0xff);

bool Draw(const QString& file, int width, int height, const std::function<void(QPainter&)>& paint) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
  }
  if (!image.save(file, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return false;
  }
  return true;
}

// A magnifying glass over a small bus line.
void Search(QPainter& p) {
  p.setPen(QPen(QColor(0x55, 0x55, 0x55), 2.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(2, 28), QPointF(13, 28));
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(5, 28), 1.8, 1.8);
  p.drawEllipse(QPointF(11, 28), 1.8, 1.8);
  p.setPen(QPen(QColor(0x6b, 0x45, 0x1e), 5.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(20, 20), QPointF(29, 29));
  QRadialGradient glass(QPointF(11, 10), 11);
  glass.setColorAt(0, Qt::white);
  glass.setColorAt(1, kSky);
  p.setBrush(glass);
  p.setPen(QPen(kNavy, 3.0));
  p.drawEllipse(QPointF(13, 13), 9.5, 9.5);
  p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(QRectF(7, 7, 12, 12), 100 * 16, 70 * 16);
}

// A green round button with a "play" triangle: open the pages.
void Start(QPainter& p) {
  QLinearGradient fill(0, 2, 0, 30);
  fill.setColorAt(0, QColor(0x6c, 0xd0, 0x5a));
  fill.setColorAt(1, QColor(0x1f, 0x8a, 0x2e));
  p.setBrush(fill);
  p.setPen(QPen(QColor(0x16, 0x66, 0x22), 1.5));
  p.drawEllipse(QPointF(16, 16), 14, 14);
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawPolygon(QPolygonF({QPointF(12, 8.5), QPointF(24, 16), QPointF(12, 23.5)}));
}

// A red power symbol: leave the program.
void Exit(QPainter& p) {
  QLinearGradient fill(0, 2, 0, 30);
  fill.setColorAt(0, QColor(0xf0, 0x6a, 0x5a));
  fill.setColorAt(1, QColor(0xb3, 0x1b, 0x1b));
  p.setBrush(fill);
  p.setPen(QPen(QColor(0x8a, 0x12, 0x12), 1.5));
  p.drawEllipse(QPointF(16, 16), 14, 14);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(QRectF(9, 9.5, 14, 14), 60 * 16, -300 * 16);
  p.drawLine(QPointF(16, 6.5), QPointF(16, 15.5));
}

// The letters K, T and R as strokes inside the box (x, y, w, h).
void Letters(QPainter& p, qreal x, qreal y, qreal w, qreal h) {
  const qreal gap = w * 0.12;
  const qreal lw = (w - 2 * gap) / 3;
  QPainterPath path;
  // K
  path.moveTo(x, y);
  path.lineTo(x, y + h);
  path.moveTo(x + lw, y);
  path.lineTo(x + lw * 0.12, y + h * 0.55);
  path.moveTo(x + lw * 0.35, y + h * 0.42);
  path.lineTo(x + lw, y + h);
  // T
  const qreal tx = x + lw + gap;
  path.moveTo(tx, y);
  path.lineTo(tx + lw, y);
  path.moveTo(tx + lw / 2, y);
  path.lineTo(tx + lw / 2, y + h);
  // R
  const qreal rx = tx + lw + gap;
  path.moveTo(rx, y + h);
  path.lineTo(rx, y);
  path.lineTo(rx + lw * 0.55, y);
  path.arcTo(QRectF(rx + lw * 0.1, y, lw * 0.9, h * 0.52), 90, -180);
  path.lineTo(rx, y + h * 0.52);
  path.moveTo(rx + lw * 0.45, y + h * 0.52);
  path.lineTo(rx + lw, y + h);
  p.strokePath(path, QPen(Qt::white, h * 0.16, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
}

// The logo: "KTR" on a blue plate, a clock dial and a bus line below.
void Logo(QPainter& p) {
  QLinearGradient plate(0, 0, 0, 50);
  plate.setColorAt(0, kBlue);
  plate.setColorAt(1, kNavy);
  p.setBrush(plate);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(1, 1, 98, 48), 7, 7);
  Letters(p, 10, 9, 52, 22);
  // Dial
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(80, 20), 12, 12);
  p.setPen(QPen(kNavy, 1.2));
  for (int i = 0; i < 12; ++i) {
    const double a = i * M_PI / 6;
    p.drawLine(QPointF(80 + 9.5 * std::sin(a), 20 - 9.5 * std::cos(a)),
               QPointF(80 + 11 * std::sin(a), 20 - 11 * std::cos(a)));
  }
  p.setPen(QPen(kNavy, 2.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(80, 20), QPointF(80, 12));
  p.drawLine(QPointF(80, 20), QPointF(86, 23));
  // Bus: two wires with three taps
  p.setPen(QPen(kSky, 1.6));
  p.drawLine(QPointF(8, 38), QPointF(92, 38));
  p.drawLine(QPointF(8, 42), QPointF(92, 42));
  p.setPen(Qt::NoPen);
  p.setBrush(kSky);
  for (const qreal x : {24.0, 50.0, 76.0}) p.drawRect(QRectF(x - 3, 35.5, 6, 9));
}

// The program's icon: a clock dial on a blue tile.
void Icon(QPainter& p) {
  const qreal s = p.device()->width() / 32.0;
  p.scale(s, s);
  QLinearGradient tile(0, 0, 0, 32);
  tile.setColorAt(0, kBlue);
  tile.setColorAt(1, kNavy);
  p.setBrush(tile);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(16, 16), 11, 11);
  p.setPen(QPen(kNavy, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(16, 16), QPointF(16, 8.5));
  p.drawLine(QPointF(16, 16), QPointF(21.5, 19));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xd6, 0x3a, 0x2f));
  p.drawEllipse(QPointF(16, 16), 1.6, 1.6);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]) + '/';
  const bool ok = Draw(out + "search.png", 32, 32, Search) && Draw(out + "start.png", 32, 32, Start) &&
                  Draw(out + "exit.png", 32, 32, Exit) && Draw(out + "logo.png", 100, 50, Logo) &&
                  Draw(out + "icon.png", 32, 32, Icon) && Draw(out + "icon64.png", 64, 64, Icon);
  return ok ? 0 : 1;
}
