#pragma once

#include <memory>
#include <string>

#include "graph/Entity.h"

namespace tallyloft {

// An unlit text label whose bounds are centred on `at` (in its parent's space). An empty text is
// set as a single space, so it still has a height. Needs a QGuiApplication.
std::unique_ptr<ModelEntity> centredText(const std::string& text, FontSpec font, float extrusion,
                                         const Color& color, glm::vec3 at);

}  // namespace tallyloft
