#pragma once

#include <QImage>

#include "graph/TextLayout.h"

namespace tallyloft {

// Paints a text layout into an image at `pixelsPerUnit`, the block filling the image. The glyph
// layer holds the text runs in white (the material tints it); the emoji layer holds the emoji
// runs in their own colours. Needs a QGuiApplication.
QImage rasterizeText(const TextLayout& layout, float pixelsPerUnit, bool emojiLayer);

}  // namespace tallyloft
