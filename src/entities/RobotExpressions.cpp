// What a robot shows besides its body: speech bubbles, sparks, the wait banner, phone props.
#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtx/quaternion.hpp>

#include "entities/RobotEntity.h"

#include "graph/Motion.h"
#include "graph/TextEntity.h"
#include "graph/TextLayout.h"

namespace tallyloft {
namespace {}  // namespace

const std::vector<std::string>& RobotEntity::chatterLines() {
  static const std::vector<std::string> kLines = {
      "any bugs?",   "coffee?",     "hmm?",     "what?", "really?",
      "how though?", "wait, what?", "ship it?", "lgtm",  "nice work"};
  return kLines;
}

const std::vector<std::string>& RobotEntity::chatterEmoji() {
  static const std::vector<std::string> kEmoji = {
      "\U0001F914", "\u2753", "\u2615", "\U0001F4AC", "\U0001F64C", "\U0001F440", "\U0001F604"};
  return kEmoji;
}

std::unique_ptr<Entity> RobotEntity::textBubble(const std::string& text, float fontSize) {
  auto bubble = std::make_unique<Entity>();
  bubble->name = "bubble";
  // Sizes in robot units, built at the robot's scale.
  auto label =
      centredText(text, {fontSize * s, 600, false}, std::max(0.0006f, 0.02f * fontSize * s),
                  palette::white, {0, 0, 0.2f * s});
  const BoundingBox bounds = meshBounds(label->mesh);
  const glm::vec3 extent = bounds.extents() * 2.0f;
  const float width = extent.x + 1.1f * fontSize * s;
  const float height = extent.y + 0.9f * fontSize * s;
  auto plate = ModelEntity::make(generatePlane(width, height, 0.45f * height), unlit(grey(0.06f)));
  plate->setOpacity(0.6f);
  bubble->addChild(std::move(plate));
  bubble->addChild(std::move(label));
  return bubble;
}

std::unique_ptr<Entity> RobotEntity::emojiBubble(const std::string& emoji) {
  // Only a single emoji (with its joiners and modifiers) makes an emoji bubble.
  const QString text = QString::fromStdString(emoji);
  if (text.isEmpty()) return nullptr;
  for (char32_t c : text.toUcs4()) {
    if (!isEmojiCodepoint(c)) return nullptr;
  }
  auto bubble = std::make_unique<Entity>();
  bubble->name = "bubble";
  const float side = 6.5f * 2.2f * s;  // about a text bubble's height
  auto picture = ModelEntity::make(generatePlane(side, side),
                                   UnlitMaterial{palette::white, emojiTexture(emoji), 0.5f});
  bubble->addChild(std::move(picture));
  return bubble;
}

void RobotEntity::say(const std::optional<std::string>& text) {
  if (chatterBubble != nullptr) {
    chatterBubble->removeFromParent();
    chatterBubble = nullptr;
  }
  std::unique_ptr<Entity> bubble;
  if (text) {
    bubble = emojiBubble(*text);
    if (!bubble) bubble = textBubble(*text, 6.5f);
  } else if (std::uniform_int_distribution<int>(0, 1)(*random_) == 0) {
    const auto& emoji = chatterEmoji();
    const std::string& pick =
        emoji[std::uniform_int_distribution<std::size_t>(0, emoji.size() - 1)(*random_)];
    bubble = emojiBubble(pick);
    if (!bubble) bubble = textBubble(pick, 6.5f);
  } else {
    const auto& lines = chatterLines();
    bubble = textBubble(
        lines[std::uniform_int_distribution<std::size_t>(0, lines.size() - 1)(*random_)], 6);
  }
  // Clear of the antenna: its bulb reaches 38 robot units, the bubble half its height below.
  bubble->setPosition(glm::vec3(0, 47, 12) * s);
  bubble->setScale(glm::vec3(0.001f));
  chatterBubble = rig->addChild(std::move(bubble));
  chatterHold = 1.8f;
  bubbleT = 0;
  bubbleClosing = false;
}

void RobotEntity::emitSparks(int count, const Color& color, glm::vec2 up, float g, float life,
                             float size, glm::vec3 at) {
  for (int i = 0; i < count; ++i) {
    const glm::vec3 velocity = glm::vec3(uniform(-6, 6), uniform(up.x, up.y), uniform(-2, 2)) * s;
    spawnParticle(color, at, velocity, g, life, size);
  }
}

void RobotEntity::emitToolParticle() {
  Color color{0.85f, 0.85f, 0.85f, 1};  // plain
  if (toolKind) {
    switch (*toolKind) {
      case ToolKind::edit:
        color = palette::yellow;
        break;
      case ToolKind::read:
        color = {0.55f, 0.9f, 1.0f, 1};
        break;
      case ToolKind::search:
        color = palette::blue;
        break;
      case ToolKind::run:
        color = palette::green;
        break;
      case ToolKind::spawn:
        color = palette::pink;
        break;
      case ToolKind::web:
        color = {0.7f, 0.45f, 1.0f, 1};
        break;
      case ToolKind::todo:
        color = palette::orange;
        break;
      case ToolKind::phone:
        color = palette::cyan;
        break;
      case ToolKind::other:
        break;
    }
  }
  const glm::vec3 velocity = glm::vec3(uniform(-2, 2), uniform(6, 10), uniform(-1, 1)) * s;
  spawnParticle(color, {uniform(-5, 5), 0, 10}, velocity, 0.05f, uniform(0.22f, 0.42f), 2);
}

std::unique_ptr<Entity> RobotEntity::makeWaitBanner(WaitReason reason) {
  const bool question = reason == WaitReason::question;
  const Color frame = question ? Color{0.1f, 0.32f, 0.85f, 1} : palette::red;
  const Color panel = question ? Color{0.74f, 0.85f, 1.0f, 1} : palette::yellow;
  const Color words = question ? Color{0.06f, 0.3f, 0.78f, 1} : Color{0.78f, 0.05f, 0.05f, 1};
  auto banner = std::make_unique<Entity>();
  banner->name = question ? "banner:question" : "banner:permission";
  const auto box = [&](glm::vec3 size, float radius, Material material, float z) {
    auto part = ModelEntity::make(generateBox(size * s, radius * s), std::move(material));
    part->setPosition({0, 0, z * s});
    banner->addChild(std::move(part));
  };
  box({63, 29, 1}, 1, unlit(grey(0.05f)), -1.2f);  // dark backing
  box({62, 28, 2}, 3, LitMaterial{frame, 0.55f, false}, 0);
  box({57, 24, 2}, 2, LitMaterial{panel, 0.55f, false}, 0.6f);
  banner->addChild(centredText("BOSS!", {7 * s, 600, false}, 0.0006f, grey(0.06f),
                               glm::vec3(0, 7.5f, 1.8f) * s));
  banner->addChild(centredText(question ? "I HAVE A" : "I NEED", {6 * s, 600, false}, 0.0006f,
                               words, glm::vec3(0, 0.5f, 1.8f) * s));
  banner->addChild(centredText(question ? "QUESTION!" : "PERMISSION", {5.4f * s, 600, false},
                               0.0006f, words, glm::vec3(0, -7, 1.8f) * s));
  return banner;
}

void RobotEntity::setPhoneProps() {
  if (onPhone && phoneReceiver == nullptr) {
    auto receiver = std::make_unique<Entity>();
    auto handset = ModelEntity::make(generateBox(glm::vec3(2.2f, 9, 2.6f) * s, 1 * s),
                                     LitMaterial{grey(0.15f), 0.4f, false});
    receiver->addChild(std::move(handset));
    // Held to the ear: on the head's right side, the mouthpiece leaning towards the mouth.
    receiver->setPosition(glm::vec3(14.2f, 16.5f - kNeckHeight, 1.5f) * s);
    receiver->setOrientation(glm::angleAxis(0.3f, glm::vec3(0, 0, 1)));
    phoneReceiver = head_->addChild(std::move(receiver));
    auto base = std::make_unique<Entity>();
    auto body = ModelEntity::make(generateBox(glm::vec3(9, 3.5f, 7) * s, 1.2f * s),
                                  LitMaterial{grey(0.15f), 0.4f, false});
    base->addChild(std::move(body));
    base->setPosition(glm::vec3(16, -4, 8) * s);
    phoneBase = root->addChild(std::move(base));
    phoneCord = root->addChild(
        ModelEntity::make(generateBox(glm::vec3(1)), LitMaterial{grey(0.1f), 0.5f, false}));
    layPhoneCord();
  } else if (!onPhone && phoneReceiver != nullptr) {
    phoneReceiver->removeFromParent();
    phoneBase->removeFromParent();
    phoneCord->removeFromParent();
    phoneReceiver = phoneBase = nullptr;
    phoneCord = nullptr;
  }
}

void RobotEntity::layPhoneCord() {
  if (phoneCord == nullptr) return;
  // A thin box from the base to the receiver, sagging a little.
  const glm::vec3 from = phoneBase->position(root);
  const glm::vec3 to = phoneReceiver->position(root);
  const glm::vec3 middle = (from + to) * 0.5f - glm::vec3(0, 1.5f * s, 0);
  const glm::vec3 along = to - from;
  const float length = std::max(glm::length(along), 1e-5f);
  phoneCord->setPosition(middle);
  phoneCord->setOrientation(glm::rotation(glm::vec3(0, 1, 0), along / length));
  phoneCord->setScale({0.5f * s, length, 0.5f * s});
}

void RobotEntity::celebratePeer(glm::vec3 peer) {
  cheerT = std::max(cheerT, 1.5f);
  cheerLookYaw = std::clamp(std::atan2(peer.x - root->position().x, 0.8f), -0.9f, 0.9f);
  hop = std::max(hop, 0.7f);
  emitSparks(12, palette::yellow, {14, 26}, 0.25f, 0.8f, 1.4f, {0, 34, 4});
}

}  // namespace tallyloft
