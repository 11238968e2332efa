#include "scene/ShopSign.h"

#include <cmath>

#include "base/Text.h"
#include "graph/TextEntity.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;
const Color kPlate{0.09f, 0.1f, 0.12f, 1};

// White text with a near-black copy just behind it as a shadow.
std::unique_ptr<Entity> shadowedText(const std::string& text, float size, float s,
                                     const Color& color, glm::vec3 at) {
  auto group = std::make_unique<Entity>();
  group->setPosition(at);
  group->addChild(centredText(text, {size, 600, false}, 0.4f * s, {0.06f, 0.06f, 0.06f, 1},
                              glm::vec3(0.25f, -0.25f, -0.2f) * s));
  group->addChild(centredText(text, {size, 600, false}, 0.4f * s, color, glm::vec3(0)));
  return group;
}

}  // namespace

ShopSign::ShopSign(float worldScale, const std::string& name) : s(worldScale) {
  root->name = "sign";
  holder = root->addChild(std::make_unique<Entity>());
  auto wood = ModelEntity::make(generateBox(glm::vec3(46, 18, 1.2f) * s, 0.5f * s),
                                LitMaterial{{0.34f, 0.26f, 0.13f, 1}, 0.6f, false});
  wood->setPosition(glm::vec3(0, 0, -0.4f - 0.6f) * s);
  holder->addChild(std::move(wood));
  auto plate = ModelEntity::make(generateBox(glm::vec3(43, 15, 1.6f) * s, 0.3f * s),
                                 LitMaterial{kPlate, 0.6f, false});
  board = holder->addChild(std::move(plate));
  auto strip = ModelEntity::make(generateBox(glm::vec3(40, 1, 0.3f) * s),
                                 UnlitMaterial{{0.4f, 0.4f, 0.4f, 1}, nullptr, std::nullopt});
  strip->setPosition(glm::vec3(0, 6, 0.9f) * s);
  colorStrip = holder->addChild(std::move(strip));
  for (float x : {-19.0f, 19.0f}) {
    for (float y : {-6.0f, 6.0f}) {
      auto bolt = ModelEntity::make(generateSphere(0.6f * s),
                                    LitMaterial{{0.62f, 0.62f, 0.62f, 1}, 0.3f, true});
      bolt->setPosition(glm::vec3(x * 1.05f, y * 1.05f, 0.8f) * s);
      holder->addChild(std::move(bolt));
    }
  }
  setName(name);
}

void ShopSign::setName(const std::string& name) {
  if (name == lastName && label != nullptr) return;
  if (label != nullptr) label->removeFromParent();
  label = holder->addChild(shadowedText(std::string(prefixGraphemes(name, 15)), 4.4f * s, s,
                                        palette::white, glm::vec3(0, 0.6f, 1.2f) * s));
  lastName = name;
}

void ShopSign::setSessionColor(const Color& color) {
  if (color.r == lastColorR && color.g == lastColorG && color.b == lastColorB) return;
  lastColorR = color.r, lastColorG = color.g, lastColorB = color.b;
  board->materials[0] =
      LitMaterial{{0.72f * kPlate.r + 0.28f * color.r, 0.72f * kPlate.g + 0.28f * color.g,
                   0.72f * kPlate.b + 0.28f * color.b, 1},
                  0.6f,
                  false};
  colorStrip->materials[0] = UnlitMaterial{color.withAlpha(1), nullptr, std::nullopt};
}

void ShopSign::setAgentCount(int count) {
  if (count == lastCount) return;
  if (count > lastCount && lastCount > 0) countPulseT = 0;
  lastCount = count;
  if (countLabel != nullptr) {
    countLabel->removeFromParent();
    countLabel = nullptr;
  }
  if (count >= 2) {
    countLabel = holder->addChild(shadowedText("\u00d7" + std::to_string(count), 5 * s, s,
                                               {0.9f, 0.9f, 0.9f, 1}, glm::vec3(14, -5, 1.2f) * s));
  }
}

void ShopSign::tick(float dt) {
  dropT = std::min(1.0f, dropT + dt / 0.55f);
  const float fall = 1 - dropT;
  root->setPosition(base + glm::vec3(0, fall * fall * fall * 0.18f, 0));
  if (countPulseT < 1) countPulseT = std::min(1.0f, countPulseT + dt / 0.5f);
  if (countLabel != nullptr) {
    const float p = countPulseT;
    countLabel->setScale(glm::vec3(1 + std::sin(kPi * p) * 0.55f * (1 - 0.4f * p)));
  }
}

}  // namespace tallyloft
