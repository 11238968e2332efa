#include "render/TextRasterizer.h"

#include <QPainter>
#include <cmath>

namespace tallyloft {

QImage rasterizeText(const TextLayout& layout, float pixelsPerUnit, bool emojiLayer) {
  const int width = std::max(1, static_cast<int>(std::ceil(layout.width * pixelsPerUnit)));
  const int height = std::max(1, static_cast<int>(std::ceil(layout.height * pixelsPerUnit)));
  QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
  // Draw in the fonts' reference pixels.
  const double scale = static_cast<double>(pixelsPerUnit * layout.unitsPerPixel);
  painter.scale(scale, scale);
  painter.setPen(Qt::white);
  for (const auto& line : layout.lines) {
    for (const auto& run : line.runs) {
      if (run.emoji != emojiLayer) continue;
      painter.setFont(run.emoji ? layout.emojiFont : layout.textFont);
      painter.drawText(
          QPointF((line.x + run.x) / layout.unitsPerPixel, line.baseline / layout.unitsPerPixel),
          run.text);
    }
  }
  return image;
}

}  // namespace tallyloft
