#include "shell/LoupeController.h"

#include "shell/X11Windows.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include "shell/PanelGeometry.h"

namespace tallyloft {
namespace {

const QColor kDark = QColor::fromRgbF(0.16f, 0.17f, 0.20f);
const QColor kGrip = QColor::fromRgbF(0.55f, 0.38f, 0.22f);

}  // namespace

LoupeController::LoupeController()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFixedSize(kSize.toSize());
  const QScreen* screen = QGuiApplication::primaryScreen();
  frame_ = frameImage(screen != nullptr ? screen->devicePixelRatio() : 2);
  // Without a compositor a translucent window shows black: cut the window to the glass.
  QPainterPath glass;
  glass.addEllipse(kLens.adjusted(-11, -11, 11, 11));
  QPainterPath handle;
  handle.moveTo(103.794, 110.575);
  handle.lineTo(60.645, 146.27);
  QPainterPathStroker stroker;
  stroker.setWidth(18);
  stroker.setCapStyle(Qt::RoundCap);
  setMask(QRegion(glass.united(stroker.createStroke(handle)).toFillPolygon().toPolygon()));
}

void LoupeController::focus(QPointF barPoint, QPoint cursor, QSizeF contentSize) {
  if (contentSize.width() <= 1 || contentSize.height() <= 1) return;
  source_ = panel::loupeSource(barPoint, contentSize, kLens.width(), kZoom);
  move(cursor - kLensCentre.toPoint());
  if (!isVisible()) {
    X11Windows().setOnEveryWorkspace(winId());
    show();
    X11Windows().requestOnEveryWorkspace(winId());
  }
  update();
}

void LoupeController::setImage(QImage image) {
  image_ = std::move(image);
  update();
}

QImage LoupeController::frameImage(double scale) {
  QImage image((kSize * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const auto stroke = [&](QPointF from, QPointF to, double width, QColor color) {
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
  };
  stroke({103.794, 110.575}, {60.645, 146.27}, 17, kDark);    // handle
  stroke({80.679, 129.697}, {69.891, 138.621}, 17.5, kGrip);  // grip band
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kDark, 11));
  p.drawEllipse(QRectF(86.98, 21.28, 112.96, 112.96));  // rim
  p.setPen(QPen(QColor::fromRgbF(0.62f, 0.62f, 0.62f), 2.5));
  p.drawEllipse(QRectF(90.98, 25.28, 104.96, 104.96));  // inner ring
  return image;
}

void LoupeController::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  QPainterPath lens;
  lens.addEllipse(kLens);
  p.setClipPath(lens);
  p.fillRect(kLens, QColor::fromRgbF(0.06f, 0.06f, 0.06f));
  if (!image_.isNull()) {
    const QRectF from(source_.x() * image_.width(), source_.y() * image_.height(),
                      source_.width() * image_.width(), source_.height() * image_.height());
    p.drawImage(kLens, image_, from);
  }
  p.setClipping(false);
  p.drawImage(QPointF(0, 0), frame_);
}

}  // namespace tallyloft
