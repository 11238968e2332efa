#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

namespace tallyloft {

// The hover magnifier: a small frameless window drawn as a magnifying glass whose round lens
// shows a 2.6 times enlarged piece of the office under the cursor. It never takes input or focus.
// The office panel feeds it pictures of the render view and calls `focus` as the mouse moves.
class LoupeController : public QWidget {
 public:
  static constexpr QSizeF kSize{216, 189};
  static constexpr QRectF kLens{91.98, 26.28, 102.96, 102.96};  // from the top left
  static constexpr QPointF kLensCentre{143.46, 77.76};
  static constexpr double kZoom = 2.6;

  LoupeController();

  // `barPoint`: the cursor in the panel's content (from its top left); `cursor`: on the screen;
  // `contentSize`: the panel's content. Nothing for a content of 1 × 1 or less.
  void focus(QPointF barPoint, QPoint cursor, QSizeF contentSize);
  // The latest picture of the office, in full.
  void setImage(QImage image);
  // The part of the picture the lens shows, as fractions of it from its top left.
  QRectF source() const { return source_; }
  // The glass: handle, grip, rim and inner ring, on a clear background.
  static QImage frameImage(double scale);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  QImage frame_;
  QRectF source_{0, 0, 0, 0};
};

}  // namespace tallyloft
