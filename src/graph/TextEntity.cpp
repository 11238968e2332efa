#include "graph/TextEntity.h"

namespace tallyloft {

std::unique_ptr<ModelEntity> centredText(const std::string& text, FontSpec font, float extrusion,
                                         const Color& color, glm::vec3 at) {
  auto label = ModelEntity::make(generateText(text.empty() ? " " : text, extrusion, font),
                                 UnlitMaterial{color, nullptr, std::nullopt});
  const BoundingBox bounds = meshBounds(label->mesh);
  label->setPosition(at - glm::vec3(bounds.center().x, bounds.center().y, 0));
  return label;
}

}  // namespace tallyloft
