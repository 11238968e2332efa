#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>
#include <vector>

namespace tallyloft {

// The office panel's geometry rules, in Qt's screen coordinates (y grows downwards). Rectangles
// are the panel's content area, not its window frame. Pure functions.
namespace panel {

inline constexpr double kAspect = 4.5;  // content width : height
inline constexpr double kMinWidth = 360;
inline constexpr double kMinHeight = 80;
inline constexpr double kSideGrab = 8;  // the side-edge drag zone and the magnifier's dead zone

// A stored frame: "{{x, y}, {w, h}}" (spaces optional). Nothing unless it parses to finite
// numbers with a width of more than 80 and sizes below 100000.
std::optional<QRectF> parseFrame(const QString& text);
QString formatFrame(const QRectF& frame);

// The largest content size on a screen whose visible area is `visible`: 0.4 of its height, 4.5
// times as wide, and never below the minimum.
QSizeF maximumSize(const QRectF& visible);

// Where the panel opens: the stored frame's width (or 0.6 of the visible width, at most 900),
// clamped to 360 … 4.5 × 0.4 × visible height, at the stored origin (or centred on `visible`);
// when no screen in `screens` shows enough of it (inset 60 by 12), centred 6 above the bottom of
// `visible`.
QRectF savedFrame(const std::optional<QString>& stored, const QRectF& visible,
                  const std::vector<QRectF>& screens);

// The frame while the left (or right) side is dragged by `dx` from `start`: the other side stays,
// the width keeps within `minWidth` … `maxWidth`, the height follows the aspect.
QRectF dragSide(const QRectF& start, bool left, double dx, double minWidth, double maxWidth);

// The part of the office a magnifier of `zoom` with a lens `lens` wide shows around `point` (in
// the content area, from its top left), as fractions of the content: x, y from the top left.
QRectF loupeSource(QPointF point, QSizeF content, double lens = 102.96, double zoom = 2.6);

}  // namespace panel
}  // namespace tallyloft
