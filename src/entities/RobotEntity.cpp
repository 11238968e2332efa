// The robot as made: what the agent's type makes of it (shape, role, colours, gear), its body
// built from that, and the agent mirrored onto it.
#include "entities/RobotEntity.h"

#include "graph/Motion.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>
#include <map>

#include "base/Text.h"
#include "graph/TextLayout.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kNeck = RobotEntity::kNeckHeight;
const Color kSmoke{0.5f, 0.5f, 0.5f, 1};

bool has(const std::string& lower, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(),
                     [&](std::string_view word) { return lower.find(word) != std::string::npos; });
}

LitMaterial litGrey(float level, float roughness = 0.5f) {
  return {grey(level), roughness, false};
}
LitMaterial lit(Color color, float roughness = 0.5f) {
  return {color, roughness, false};
}

}  // namespace

BodyShape RobotEntity::shapeFor(std::string_view type, bool isMain) {
  if (isMain) return BodyShape::humanoid;
  const std::string lower = asciiLower(type);
  if (has(lower, {"explore", "search", "research"})) return BodyShape::drone;
  if (has(lower, {"build", "worker", "test"})) return BodyShape::tank;
  return BodyShape::humanoid;
}

Role RobotEntity::roleFor(std::string_view type, bool isMain) {
  if (isMain) return Role::other;
  const std::string lower = asciiLower(type);
  if (has(lower, {"explore", "search", "research"})) return Role::explore;
  if (has(lower, {"plan"})) return Role::plan;
  if (has(lower, {"review", "security"})) return Role::review;
  if (has(lower, {"build", "worker"})) return Role::build;
  if (has(lower, {"test"})) return Role::test;
  if (has(lower, {"general"})) return Role::general;
  return Role::other;
}

Color RobotEntity::typeColor(std::string_view type) {
  const std::string lower = asciiLower(type);
  if (has(lower, {"explore"})) return palette::blue;
  if (has(lower, {"plan"})) return palette::orange;
  if (has(lower, {"review", "security"})) return palette::red;
  if (has(lower, {"build"})) return palette::green;
  if (has(lower, {"test"})) return palette::purple;
  if (has(lower, {"general"})) return palette::teal;
  if (type.empty()) return fromHsb(43.0f / 360, 0.6f, 0.9f);
  // A stable hue per type: 64-bit FNV-1a over its bytes.
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char byte : type) hash = (hash ^ byte) * 0x100000001B3ull;
  return fromHsb(static_cast<float>(hash % 360) / 360, 0.6f, 0.9f);
}

Color RobotEntity::stateColor(AgentState state) {
  switch (state) {
    case AgentState::thinking:
      return palette::blue;
    case AgentState::working:
    case AgentState::done:
      return palette::green;
    case AgentState::waiting:
      return palette::orange;
    case AgentState::idle:
      return grey(0.6f);
    case AgentState::error:
      return palette::red;
  }
  return palette::blue;
}

std::string_view RobotEntity::roleEmoji(Role role) {
  switch (role) {
    case Role::explore:
      return "\U0001F50D";
    case Role::plan:
      return "\U0001F4CB";
    case Role::review:
      return "\U0001F575\uFE0F";
    case Role::build:
      return "\U0001F528";
    case Role::test:
      return "\U0001F9EA";
    case Role::general:
      return "\U0001F6E0\uFE0F";
    case Role::other:
      break;
  }
  return "\U0001F916";
}

std::shared_ptr<const Texture> RobotEntity::emojiTexture(const std::string& emoji) {
  static std::map<std::string, std::shared_ptr<const Texture>> emojiCache;
  if (auto it = emojiCache.find(emoji); it != emojiCache.end()) return it->second;
  QImage image(128, 128, QImage::Format_RGBA8888_Premultiplied);
  image.fill(Qt::transparent);
  QFont font;
  font.setFamilies(QStringList{QStringLiteral("Noto Color Emoji")});
  font.setPixelSize(100);
  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
  painter.setFont(font);
  const QString text = QString::fromStdString(emoji);
  const QRectF box = QFontMetricsF(font).boundingRect(text);
  painter.drawText(
      QPointF((128 - box.width()) / 2 - box.left(), (128 - box.height()) / 2 - box.top()), text);
  painter.end();
  auto texture = Texture::fromImage(image);
  emojiCache.emplace(emoji, texture);
  return texture;
}

float RobotEntity::uniform(float low, float high) {
  return std::uniform_real_distribution<float>(low, high)(*random_);
}

ModelEntity* RobotEntity::add(Entity& parent, MeshDescriptor mesh, Material material,
                              glm::vec3 at) {
  return addModel(parent, std::move(mesh), std::move(material), at * s);
}

RobotEntity::RobotEntity(const AgentNode& agent, float worldScale, bool decorative,
                         std::mt19937& random)
    : id(agent.id),
      isMain(agent.isMain),
      s(worldScale),
      shape(shapeFor(agent.type, agent.isMain)),
      role(roleFor(agent.type, agent.isMain)),
      random_(&random),
      ownedRoot_(std::make_unique<Entity>()) {
  // Offsets that keep a room full of robots out of step with one another.
  footTapT = uniform(0, 6);
  bobPhase = uniform(0, 6.28f);
  drinkPhase = uniform(0, 5);
  thinkBeatT = uniform(2, 6);
  chatterT = uniform(1.5f, 5);
  microT = uniform(4, 10);
  blinkT = uniform(1.5f, 5);
  gazeTimer = uniform(1, 3);

  root = ownedRoot_.get();
  root->name = "robot:" + id;
  rig = root->addChild(std::make_unique<Entity>());
  const Color typeTint = typeColor(agent.type);
  const auto size = [this](glm::vec3 dimensions) { return dimensions * s; };

  body = add(*rig, generateBox(size({20, 15, 14}), 4 * s),
             LitMaterial{grey(decorative ? 0.58f : 0.74f), 0.32f, true}, {0, 0, 0});
  // The head turns on a neck pivot; the face, the antenna and the hats turn with it.
  head_ = rig->addChild(std::make_unique<Entity>());
  head_->setPosition(glm::vec3(0, kNeck, 0) * s);
  const auto onHead = [this](MeshDescriptor mesh, Material material, glm::vec3 at) {
    return add(*head_, std::move(mesh), std::move(material), at - glm::vec3(0, kNeck, 0));
  };
  head = onHead(generateBox(size({26, 20, 16}), 5 * s),
                LitMaterial{grey(decorative ? 0.66f : 0.82f), 0.32f, true}, {0, 17, 0});
  add(*rig, generateBox(size({12, 1.2f, 0.6f})), unlit(typeTint), {0, 3, 7.1f});  // chest stripe

  antennaPivot = head_->addChild(std::make_unique<Entity>());
  antennaPivot->setPosition(glm::vec3(0, 27 - kNeck, 0) * s);
  add(*antennaPivot, generateBox(size({0.5f, 8, 0.5f})), litGrey(0.5f), {0, 4, 0});
  bulb = add(*antennaPivot, generateSphere(3 * s), unlit(palette::green), {0, 8, 0});

  onHead(generatePlane(21 * s, 15 * s, 4 * s), unlit(grey(0.03f)), {0, 17, 8.15f});  // face screen
  const float k = role == Role::explore  ? 1.12f
                  : role == Role::plan   ? 1.06f
                  : role == Role::review ? 0.96f
                  : role == Role::build  ? 0.92f
                                         : 1.0f;
  const MeshDescriptor eye = generatePlane(5.6f * k * s, 5.6f * k * s, 2.8f * k * s);
  leftEye = onHead(eye, unlit(palette::blue), {-5, eyeBaseY_, 8.25f});
  rightEye = onHead(eye, unlit(palette::blue), {5, eyeBaseY_, 8.25f});
  mouth =
      onHead(generateBox(size({6, 1.6f, 0.4f}), 0.8f * s), unlit(palette::blue), {0, 15.8f, 8.3f});

  const LitMaterial limb{grey(decorative ? 0.45f : 0.55f), 0.4f, true};
  switch (shape) {
    case BodyShape::humanoid:
      for (float side : {-1.0f, 1.0f}) {
        Entity* pivot = rig->addChild(std::make_unique<Entity>());
        pivot->setPosition(glm::vec3(4.5f * side, -7.5f, 0) * s);
        add(*pivot, generateBox(size({3.6f, 8, 3.6f}), 1.2f * s), limb, {0, -4, 0});
        add(*pivot, generateBox(size({4.6f, 2, 6}), 0.9f * s), limb, {0, -8.6f, 1});
        (side < 0 ? legLPivot : legRPivot) = pivot;
      }
      break;
    case BodyShape::drone: {
      auto* glow = add(*rig, generateHorizontalPlane(12 * s, 12 * s, 6 * s), unlit(palette::teal),
                       {0, -13, 0});
      glow->setOpacity(0.35f);
      break;
    }
    case BodyShape::tank:
      add(*rig, generateBox(size({19, 5, 12}), 1.5f * s), limb, {0, -11, 0});
      for (float side : {-1.0f, 1.0f}) {
        add(*rig, generateBox(size({4, 9, 14}), 2 * s), litGrey(0.3f, 0.8f),
            {11 * side, -11.5f, 0});
      }
      break;
  }

  for (float side : {-1.0f, 1.0f}) {
    Entity* pivot = rig->addChild(std::make_unique<Entity>());
    pivot->setPosition(glm::vec3(11 * side, 5, 0) * s);
    add(*pivot, generateBox(size({3.4f, 10, 3.4f}), 1.4f * s), limb, {0, -4.5f, 0});
    (side < 0 ? leftArm : rightArm) = pivot;
  }
  rightHand = rightArm->addChild(std::make_unique<Entity>());
  rightHand->setPosition(glm::vec3(0, -9, 0) * s);
  coffeeMug = rightHand->addChild(makeMug());
  coffeeMug->setEnabled(false);

  if (!decorative) {
    carryBlock =
        add(*rig, generateBox(size({7, 5, 5}), 1 * s), lit(palette::brown, 0.32f), {0, -2, 10});
    carryBlock->setEnabled(false);
  }

  if (!isMain) {
    // Hats ride on the head; what the hands hold stays with the body.
    for (auto& gear : roleGear(role)) {
      if (gear->position().y >= 20 * s) {
        gear->setPosition(gear->position() - glm::vec3(0, kNeck, 0) * s);
        head_->addChild(std::move(gear));
      } else {
        rig->addChild(std::move(gear));
      }
    }
    auto* badge =
        add(*rig, generatePlane(6 * s, 6 * s),
            UnlitMaterial{palette::white, emojiTexture(std::string(roleEmoji(role))), 0.5f},
            {6, -3.5f, 7.2f});
    badge->name = "badge";
    auto* tag = add(*rig, generatePlane(1.3f * s, 0.65f * s), unlit(typeTint), {-7.2f, 2, -7.1f});
    tag->setOrientation(about(kPi, {0, 1, 0}));  // faces backwards
  }

  particles.reserve(kMaxParticles);
  sparkPool_.reserve(kMaxParticles);
  shadow = add(*root, generateHorizontalPlane(34 * s, 12 * s, 6 * s), unlit(palette::black),
               {0, -24, 0});
  shadow->setOpacity(0.28f);

  update(agent);
  applyStateColor(state);
  burst(BurstKind::sparkle, palette::teal);
}

RobotEntity::~RobotEntity() {
  if (!ownedRoot_) root->removeFromParent();  // destroys the tree the scene held
}

void RobotEntity::attachTo(Entity& parent) {
  if (ownedRoot_) parent.addChild(std::move(ownedRoot_));
}

std::vector<std::unique_ptr<Entity>> RobotEntity::roleGear(Role forRole) {
  std::vector<std::unique_ptr<Entity>> gear;
  const auto part = [&](MeshDescriptor mesh, Material material, glm::vec3 at) {
    auto model = ModelEntity::make(std::move(mesh), std::move(material));
    model->setPosition(at * s);
    gear.push_back(std::move(model));
    return static_cast<ModelEntity*>(gear.back().get());
  };
  const auto box = [this](glm::vec3 dimensions, float radius = 0) {
    return generateBox(dimensions * s, radius * s);
  };
  const Color wood{0.5f, 0.33f, 0.18f, 1};
  switch (forRole) {
    case Role::build:
      part(generateSphere(9 * s), lit(palette::yellow, 0.6f), {0, 27.5f, 0})
          ->setScale({1.2f, 0.55f, 1});
      part(box({26, 1.2f, 19}, 0.6f), lit(palette::yellow, 0.6f), {0, 25.5f, 0.5f});
      part(box({1.2f, 8, 1.2f}), lit(wood), {-15, -4, 6});
      part(box({4, 2.2f, 2.2f}, 0.4f), litGrey(0.4f), {-15, 0.5f, 6});
      break;
    case Role::plan:
      part(box({18, 2.2f, 16}, 1), litGrey(0.08f), {0, 27.5f, 0});
      part(box({22, 0.8f, 20}), litGrey(0.08f), {0, 29.4f, 0});
      part(box({0.8f, 5, 0.8f}), lit(palette::yellow), {9, 26.5f, 8});
      part(box({9, 12, 0.8f}, 0.6f), lit(wood), {-14, -3, 7});
      part(box({7.2f, 9.4f, 0.2f}), litGrey(0.96f, 0.9f), {-14, -3.4f, 7.5f});
      break;
    case Role::explore:
      part(generateSphere(10 * s), lit({0.8f, 0.72f, 0.52f, 1}, 0.8f), {0, 27.5f, 0})
          ->setScale({1.15f, 0.5f, 0.95f});
      part(box({30, 1, 21}, 0.5f), lit({0.8f, 0.72f, 0.52f, 1}, 0.8f), {0, 25.5f, 0});
      part(box({3.4f, 5, 3.4f}, 1), litGrey(0.12f), {-2.2f, 10, 9.5f});
      part(box({3.4f, 5, 3.4f}, 1), litGrey(0.12f), {2.2f, 10, 9.5f});
      break;
    case Role::review:
      part(generateSphere(9.5f * s), lit({0.42f, 0.3f, 0.2f, 1}, 0.7f), {0, 27.5f, 0})
          ->setScale({1.2f, 0.55f, 1});
      part(box({28, 1, 20}, 0.5f), lit({0.42f, 0.3f, 0.2f, 1}, 0.7f), {0, 25.6f, 0});
      part(generatePlane(5.2f * s, 5.2f * s, 2.6f * s), litGrey(0.2f), {14, 4, 7.8f});
      part(box({1.2f, 8.6f, 1.2f}), litGrey(0.2f), {16.5f, -1.5f, 7.8f})
          ->setOrientation(about(0.5f, {0, 0, 1}));
      part(generatePlane(2.8f * s, 2.8f * s, 1.4f * s), unlit({0.6f, 0.85f, 1.0f, 1}),
           {14, 4, 7.9f});
      break;
    case Role::test:
      part(box({27, 2, 2}, 0.8f), litGrey(0.15f), {0, 21, 7.6f});
      part(generatePlane(2.7f * s, 2.7f * s, 1.35f * s), unlit({0.4f, 0.85f, 0.95f, 1}),
           {-5, 21, 8.7f});
      part(generatePlane(2.7f * s, 2.7f * s, 1.35f * s), unlit({0.4f, 0.85f, 0.95f, 1}),
           {5, 21, 8.7f});
      part(generateSphere(3.4f * s), lit(palette::purple, 0.3f), {15, -4, 6});
      part(box({3.6f, 2.4f, 3.6f}, 0.8f), lit({0.5f, 0.9f, 0.6f, 1}), {15, -4.8f, 6.5f});
      part(box({1.6f, 3, 1.6f}), litGrey(0.85f), {15, -0.2f, 6});
      break;
    case Role::general:
      part(generateSphere(9 * s), lit(palette::teal, 0.6f), {0, 27.5f, 0})
          ->setScale({1.2f, 0.55f, 1});
      part(box({16, 1, 8}, 0.5f), lit(palette::teal, 0.6f), {0, 25.3f, 9});
      part(generateSphere(1.4f * s), litGrey(0.95f), {0, 32.3f, 0});
      break;
    case Role::other:
      part(box({4, 4, 4}, 1), litGrey(0.6f), {0, 29, 0});
      break;
  }
  return gear;
}

std::unique_ptr<Entity> RobotEntity::makeMug() {
  auto mug = std::make_unique<Entity>();
  mug->name = "mug";
  auto* cup = mug->addChild(ModelEntity::make(generateBox(glm::vec3(4, 4.6f, 4) * s, 1.2f * s),
                                              lit(palette::white, 0.3f)));
  cup->setPosition(glm::vec3(0, -1, 3) * s);
  auto* coffee = mug->addChild(
      ModelEntity::make(generatePlane(3 * s, 3 * s, 1 * s), lit(palette::brown, 0.2f)));
  coffee->setPosition(glm::vec3(0, 1.35f, 3) * s);
  coffee->setOrientation(about(-kPi / 2, {1, 0, 0}));
  auto* handle = mug->addChild(ModelEntity::make(generateBox(glm::vec3(1, 2.6f, 1) * s, 0.4f * s),
                                                 lit(palette::white, 0.3f)));
  handle->setPosition(glm::vec3(2.5f, -1, 3) * s);
  return mug;
}

void RobotEntity::setBodyTint(const Color& color) {
  if (tintR == color.r && tintG == color.g && tintB == color.b) return;
  tintR = color.r, tintG = color.g, tintB = color.b;
  const auto wash = [&](float base) {
    return LitMaterial{
        {base + 0.15f * color.r, base + 0.15f * color.g, base + 0.15f * color.b, 1}, 0.32f, true};
  };
  body->materials = {wash(0.629f)};
  head->materials = {wash(0.765f)};
}

void RobotEntity::setScale(float factor) {
  bodyScaleTarget = std::max(factor, 0.5f);
}

void RobotEntity::applyStateColor(AgentState colorOf) {
  const UnlitMaterial face = unlit(stateColor(colorOf));
  for (ModelEntity* part : {bulb, leftEye, rightEye, mouth}) part->materials = {face};
  displayedColor = colorOf;
}

void RobotEntity::update(const AgentNode& agent) {
  const AgentState previous = state;
  state = agent.state;
  waitReason = agent.waitReason;
  if (state != previous) {
    if (previous == AgentState::working && state == AgentState::thinking) {
      colorHold = 0.9f;  // no blue flicker between two tool calls
    } else {
      colorHold = 0;
      applyStateColor(state);
    }
  }
  if (state == AgentState::working) {
    if (!agent.currentTool) {
      toolKind.reset();
      if (carryBlock != nullptr) carryBlock->setEnabled(false);
    } else if (toolKind != agent.currentTool) {
      toolKind = agent.currentTool;
      if (seated) hop = 0.55f;
    }
    onPhone = toolKind == ToolKind::phone;
  } else {
    toolKind.reset();
    if (carryBlock != nullptr) carryBlock->setEnabled(false);
    onPhone = false;
  }
  setPhoneProps();
  if (state != previous) {
    if (lastBurst != state) {
      if (state == AgentState::error) burst(BurstKind::smoke, kSmoke);
      if (state == AgentState::done) burst(BurstKind::confetti, palette::green);
      lastBurst = state;
    }
    if (state == AgentState::done) {
      stretchT = 2.1f;
      if (seated && sitT > 0.6f) {
        doneSpinT = 1;
        spinStartYaw = yaw;
      }
    }
  }
}

}  // namespace tallyloft
