// Draws the crew mascot, a friendly robot portrait, into a square PNG.
// Usage: make_mascot OUT.png [SIZE]   (assets/mascot.png is made with SIZE 512)
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_mascot OUT.png [SIZE]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const int size = argc > 2 ? std::atoi(argv[2]) : 512;
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 512.0, size / 512.0);

  // Backdrop: a rounded tile in the office's blue.
  QLinearGradient backdrop(0, 0, 0, 512);
  backdrop.setColorAt(0, QColor(0x5A, 0xB8, 0xFF));
  backdrop.setColorAt(1, QColor(0x00, 0x6A, 0xE0));
  p.setPen(Qt::NoPen);
  p.setBrush(backdrop);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(8, 8, 496, 496), 96, 96);
  p.drawPath(tile);
  p.setClipPath(tile);

  // Shoulders.
  QLinearGradient metal(0, 330, 0, 512);
  metal.setColorAt(0, QColor(0xE8, 0xEC, 0xF2));
  metal.setColorAt(1, QColor(0xA9, 0xB3, 0xC1));
  p.setBrush(metal);
  p.drawRoundedRect(QRectF(96, 392, 320, 140), 70, 70);
  p.setBrush(QColor(0xFF, 0x95, 0x00));
  p.drawEllipse(QPointF(256, 452), 26, 26);

  // Antenna.
  p.setPen(QPen(QColor(0x8E, 0x8E, 0x93), 12, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(256, 120), QPointF(256, 70));
  p.setPen(Qt::NoPen);
  QRadialGradient bulb(QPointF(248, 56), 26);
  bulb.setColorAt(0, QColor(0xFF, 0xA0, 0x98));
  bulb.setColorAt(1, QColor(0xFF, 0x3B, 0x30));
  p.setBrush(bulb);
  p.drawEllipse(QPointF(256, 60), 22, 22);

  // Head.
  QLinearGradient head(0, 110, 0, 400);
  head.setColorAt(0, QColor(0xF7, 0xF9, 0xFC));
  head.setColorAt(1, QColor(0xC4, 0xCC, 0xD8));
  p.setBrush(head);
  p.drawRoundedRect(QRectF(106, 112, 300, 270), 90, 90);
  // Ears.
  p.setBrush(QColor(0x8E, 0x8E, 0x93));
  p.drawRoundedRect(QRectF(80, 210, 34, 76), 14, 14);
  p.drawRoundedRect(QRectF(398, 210, 34, 76), 14, 14);
  // Face plate.
  p.setBrush(QColor(0x1C, 0x27, 0x38));
  p.drawRoundedRect(QRectF(140, 160, 232, 176), 70, 70);

  // Eyes with highlights.
  for (const double x : {208.0, 304.0}) {
    QRadialGradient glow(QPointF(x, 236), 40);
    glow.setColorAt(0, QColor(0x9F, 0xF3, 0xFF));
    glow.setColorAt(1, QColor(0x32, 0xAD, 0xE6));
    p.setBrush(glow);
    p.drawEllipse(QPointF(x, 238), 30, 36);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawEllipse(QPointF(x - 10, 224), 9, 10);
  }
  // Smile and cheeks.
  p.setPen(QPen(QColor(0x9F, 0xF3, 0xFF), 10, Qt::SolidLine, Qt::RoundCap));
  QPainterPath smile;
  smile.moveTo(220, 292);
  smile.quadTo(256, 322, 292, 292);
  p.setBrush(Qt::NoBrush);
  p.drawPath(smile);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xFF, 0x2D, 0x55, 110));
  p.drawEllipse(QPointF(170, 292), 18, 11);
  p.drawEllipse(QPointF(342, 292), 18, 11);
  p.end();
  return image.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
