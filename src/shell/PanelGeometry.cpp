#include "shell/PanelGeometry.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace tallyloft::panel {
namespace {

constexpr double kLargest = 100000;

}  // namespace

std::optional<QRectF> parseFrame(const QString& text) {
  static const QRegularExpression pattern(
      R"(^\s*\{\s*\{\s*([^,{}]+),\s*([^,{}]+)\}\s*,\s*\{\s*([^,{}]+),\s*([^,{}]+)\}\s*\}\s*$)");
  const QRegularExpressionMatch match = pattern.match(text);
  if (!match.hasMatch()) return std::nullopt;
  double values[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    values[i] = match.captured(i + 1).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(values[i])) return std::nullopt;
  }
  const QRectF frame(values[0], values[1], values[2], values[3]);
  if (frame.width() <= 80 || frame.width() >= kLargest || frame.height() < 0 ||
      frame.height() >= kLargest || std::fabs(frame.x()) >= kLargest ||
      std::fabs(frame.y()) >= kLargest)
    return std::nullopt;
  return frame;
}

QString formatFrame(const QRectF& frame) {
  return QStringLiteral("{{%1, %2}, {%3, %4}}")
      .arg(frame.x())
      .arg(frame.y())
      .arg(frame.width())
      .arg(frame.height());
}

QSizeF maximumSize(const QRectF& visible) {
  const double height = std::max(0.4 * visible.height(), kMinHeight);
  return {std::max(kAspect * height, kMinWidth), height};
}

QRectF savedFrame(const std::optional<QString>& stored, const QRectF& visible,
                  const std::vector<QRectF>& screens) {
  double width = std::min(0.6 * visible.width(), 900.0);
  std::optional<QPointF> origin;
  if (stored) {
    if (const auto frame = parseFrame(*stored)) {
      width = frame->width();
      origin = frame->topLeft();
    }
  }
  width = std::min(std::max(width, kMinWidth), kAspect * 0.4 * visible.height());
  width = std::max(width, kMinWidth);
  const double height = width / kAspect;
  const QPointF at =
      origin.value_or(QPointF(visible.center().x() - width / 2, visible.center().y() - height / 2));
  const QRectF candidate(at, QSizeF(width, height));
  const QRectF core = candidate.adjusted(60, 12, -60, -12);
  for (const QRectF& screen : screens) {
    if (screen.intersects(core)) return candidate;
  }
  // Nowhere to be seen: centred just above the bottom of the visible area.
  return {visible.center().x() - width / 2, visible.bottom() - 6 - height, width, height};
}

QRectF dragSide(const QRectF& start, bool left, double dx, double minWidth, double maxWidth) {
  double width = left ? start.width() - dx : start.width() + dx;
  width = std::min(std::max(width, minWidth), std::max(maxWidth, minWidth));
  const double x = left ? start.right() - width : start.left();
  return {x, start.top(), width, width / kAspect};
}

QRectF loupeSource(QPointF point, QSizeF content, double lens, double zoom) {
  const double half = lens / zoom / 2;
  const double u = half / content.width();
  const double v = half / content.height();
  return {point.x() / content.width() - u, point.y() / content.height() - v, 2 * u, 2 * v};
}

}  // namespace tallyloft::panel
