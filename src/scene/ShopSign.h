#pragma once

#include <string>

#include "graph/SceneObject.h"

namespace tallyloft {

// A room's name sign: the project name on a dark plate in a wooden board, a strip and a tint in
// the session colour, and "×n" when the session has more than one agent, pulsing as it grows.
// Sizes are multiples of the world scale `s`. Main-thread only; needs a QGuiApplication.
class ShopSign : public SceneObject {
 public:
  ShopSign(float worldScale, const std::string& name);

  // Shows the first 15 characters of `name` (nothing when unchanged).
  void setName(const std::string& name);
  void setSessionColor(const Color& color);
  void setAgentCount(int count);
  // Where the sign rests; `tick` drops it in from above.
  void setPosition(glm::vec3 position) { base = position; }
  // The drop-in and the count pulse.
  void tick(float dt);

  Entity* holder = nullptr;
  Entity* label = nullptr;
  std::string lastName;
  float s;
  glm::vec3 base{0};
  float dropT = 0;
  ModelEntity* board = nullptr;
  ModelEntity* colorStrip = nullptr;
  Entity* countLabel = nullptr;
  int lastCount = 0;
  float countPulseT = 1;
  double lastColorR = -1, lastColorG = -1, lastColorB = -1;
};

}  // namespace tallyloft
