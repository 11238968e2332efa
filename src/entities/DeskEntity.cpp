// The desk: its body, chair, lamp and plant, and its screen of code or terminal lines in the
// colours of its agent's state and tool.
#include "entities/DeskEntity.h"

#include "graph/Motion.h"

#include <QImage>
#include <cmath>
#include <functional>
#include <glm/gtc/quaternion.hpp>
#include <map>

#include "base/Text.h"
#include "graph/TextEntity.h"
#include "graph/TextLayout.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;
constexpr int kSlots = 5;  // visible lines: 5 × 2.52 = the 12.6 that a line wraps by
constexpr float kScreenY = 16;
constexpr float kScreenZ = -2.85f;

struct PoolLine {
  const char* text;
  Color color;
};

const std::vector<PoolLine>& codePool() {
  static const std::vector<PoolLine> kPool = {
      {"func render() {", palette::purple},    {"  let n = items.count", grey(0.86f)},
      {"  guard let v else {", palette::blue}, {"    return nil }", grey(0.86f)},
      {"  view.update(v)", palette::teal},     {"}", grey(0.7f)},
      {"import RealityKit", palette::pink},    {"@MainActor func sync()", palette::purple},
      {"for x in 0..<count {", palette::blue}, {"  total += x * 2", grey(0.86f)},
      {"  await store.save()", palette::teal}, {"// TODO: refactor", palette::green}};
  return kPool;
}

const std::vector<PoolLine>& termPool() {
  static const std::vector<PoolLine> kPool = {
      {"$ swift build", palette::green}, {"Compiling Crew\u2026", grey(0.82f)},
      {"  Linking app", grey(0.82f)},    {"Build succeeded", palette::green},
      {"$ git status", palette::green},  {"  3 files changed", grey(0.82f)},
      {"$ npm test", palette::green},    {"  42 passing", palette::teal},
      {"$ ls -la src/", palette::green}, {"  drwxr-xr-x  app", grey(0.82f)}};
  return kPool;
}

// The screen pools' text meshes, built once per scale and shared by every desk of that scale.
// The widest a line may be on the screen, in robot units: the screen less its margins.
constexpr float kScreenTextWidth = 21.6f;
constexpr float kStatusTextWidth = 22.0f;

// `text` set by `make`, its last characters dropped (and "…" added when `ellipsis`) until it is at
// most `width` wide.
MeshDescriptor fitted(const std::string& text, float width, bool ellipsis,
                      const std::function<MeshDescriptor(const std::string&)>& make) {
  MeshDescriptor mesh = make(text);
  std::size_t shown = text.size();
  // Bytes bound the characters from above; only a shorter prefix is set again.
  for (std::size_t keep = text.size(); keep > 1;) {
    if (layoutText(std::get<TextMesh>(mesh)).width <= width) break;
    std::string_view prefix = prefixGraphemes(text, --keep);
    while (prefix.size() == shown && keep > 1) prefix = prefixGraphemes(text, --keep);
    shown = prefix.size();
    mesh = make(std::string(prefix) + (ellipsis ? "…" : ""));
  }
  return mesh;
}

const std::vector<MeshDescriptor>& screenPool(bool terminal, float s) {
  static std::map<std::pair<bool, float>, std::vector<MeshDescriptor>> pools;
  auto& pool = pools[{terminal, s}];
  if (pool.empty()) {
    for (const PoolLine& line : terminal ? termPool() : codePool()) {
      pool.push_back(fitted(line.text, kScreenTextWidth * s, false, [s](const std::string& text) {
        return generateText(text, std::max(0.0006f, 0.04f * s), {1.9f * s, 400, true});
      }));
    }
  }
  return pool;
}

std::string_view kindName(ToolKind kind) {
  return toolKindName(kind);
}

}  // namespace

long long DeskEntity::materialRebuilds = 0;

const std::vector<Color>& DeskEntity::ssColors() {
  static const std::vector<Color> kColors = {palette::pink,   palette::teal,   palette::yellow,
                                             palette::purple, palette::orange, palette::green,
                                             palette::white};
  return kColors;
}

const std::vector<std::string>& DeskEntity::saverMsgs() {
  static const std::vector<std::string> kMessages = {"BRB", "zzz", "afk", "...", "brewing", "idle"};
  return kMessages;
}

Color DeskEntity::stateBackground(AgentState state) {
  switch (state) {
    case AgentState::thinking:
      return {0.08f, 0.13f, 0.26f, 1};
    case AgentState::working:
      return {0.07f, 0.18f, 0.13f, 1};
    case AgentState::waiting:
      return {0.55f, 0.34f, 0.04f, 1};
    case AgentState::idle:
    case AgentState::done:
      return grey(0.12f);
    case AgentState::error:
      return {0.3f, 0.08f, 0.08f, 1};
  }
  return grey(0.12f);
}

Color DeskEntity::toolColor(std::optional<ToolKind> tool) {
  if (!tool) return palette::gray;
  switch (*tool) {
    case ToolKind::edit:
      return palette::yellow;
    case ToolKind::read:
      return palette::teal;
    case ToolKind::search:
      return palette::blue;
    case ToolKind::run:
      return palette::green;
    case ToolKind::spawn:
      return palette::pink;
    case ToolKind::web:
      return palette::indigo;
    case ToolKind::todo:
      return palette::orange;
    case ToolKind::phone:
      return palette::cyan;
    case ToolKind::other:
      break;
  }
  return palette::gray;
}

float DeskEntity::uniform(float low, float high) {
  return std::uniform_real_distribution<float>(low, high)(*random_);
}

DeskEntity::DeskEntity(float worldScale, std::mt19937& random)
    : s(worldScale), ssHalfX(9 * worldScale), ssHalfY(4.6f * worldScale), random_(&random) {
  root->name = "desk";
  const auto add = [this](Entity& parent, MeshDescriptor mesh, Material material, glm::vec3 at) {
    return addModel(parent, std::move(mesh), std::move(material), at * s);
  };
  const auto box = [this](glm::vec3 size, float radius = 0) {
    return generateBox(size * s, radius * s);
  };

  // Desk, floor shadow and monitor.
  auto* shadow = add(*root, generateHorizontalPlane(44 * s, 18 * s, 6 * s), unlit(palette::black),
                     {0, -15.5f, 0});
  shadow->setOpacity(0.12f);
  // The body, the monitor's case and the lamp never change on their own: still (the screen, the
  // chair, the glow and the plant do).
  const auto still = [](ModelEntity* part) { part->setStill(true); };
  still(add(*root, box({44, 2, 18}, 0.6f), LitMaterial{grey(0.34f), 0.6f, false}, {0, 0, 0}));
  still(add(*root, box({40, 14, 15}, 0.5f), LitMaterial{grey(0.22f), 0.7f, false}, {0, -8, -0.5f}));
  still(add(*root, box({4, 6, 3}, 0.5f), LitMaterial{{0.12f, 0.13f, 0.16f, 1}, 0.5f, false},
            {0, 4, -5}));
  still(
      add(*root, box({27, 17.5f, 2}, 1), LitMaterial{grey(0.06f), 0.4f, false}, {0, kScreenY, -4}));
  still(add(*root, box({25, 15.5f, 1}, 0.8f), LitMaterial{{0.15f, 0.16f, 0.2f, 1}, 0.5f, false},
            {0, kScreenY, -5.3f}));
  screen = add(*root, generatePlane(24 * s, 14.5f * s, 0.8f * s), unlit(grey(0.05f)),
               {0, kScreenY, kScreenZ});
  accent = add(*root, generateSphere(0.7f * s), unlit(grey(0.3f)), {11.5f, kScreenY - 7.9f, -2.8f});

  // Chair on its swivel; the controller pulls it out and turns it.
  chair = root->addChild(std::make_unique<Entity>());
  chair->setPosition(glm::vec3(0, -7, 9) * s);
  add(*chair, box({1.6f, 7, 1.6f}), LitMaterial{grey(0.3f), 0.4f, true}, {0, -4, 0});
  seat_ = chair->addChild(std::make_unique<Entity>());
  add(*seat_, box({13, 2, 11}, 1), LitMaterial{{0.2f, 0.24f, 0.32f, 1}, 0.7f, false}, {0, 0, 0});
  add(*seat_, box({13, 12, 2}, 1), LitMaterial{{0.2f, 0.24f, 0.32f, 1}, 0.7f, false}, {0, 6, 5.5f});

  // Lamp and plant.
  still(add(*root, box({5, 1, 4}, 0.4f), LitMaterial{grey(0.2f), 0.4f, true}, {-17, 1.5f, -3}));
  still(add(*root, box({0.8f, 11, 0.8f}), LitMaterial{grey(0.25f), 0.4f, true}, {-17, 7, -3}));
  still(add(*root, box({5, 2.4f, 3.6f}, 0.8f), LitMaterial{grey(0.2f), 0.4f, true},
            {-15.5f, 12.6f, -2.5f}));
  lampGlow =
      add(*root, generateSphere(1.6f * s), unlit({1.0f, 0.86f, 0.42f, 1}), {-15.5f, 11.2f, -2.2f});
  plant = root->addChild(std::make_unique<Entity>());
  plant->setPosition(glm::vec3(17, 1, -3) * s);
  add(*plant, box({5, 5, 5}, 0.8f), LitMaterial{{0.72f, 0.4f, 0.26f, 1}, 0.8f, false},
      {0, 2.5f, 0});
  add(*plant, generateSphere(4.2f * s), LitMaterial{{0.3f, 0.62f, 0.32f, 1}, 0.8f, false},
      {0, 8, 0});

  // Screen text: one entity per pool line, placed into the visible slots as they scroll.
  screenContent_ = root->addChild(std::make_unique<Entity>());
  screenContent_->setPosition(glm::vec3(-10.8f, kScreenY, kScreenZ + 0.1f) * s);
  for (bool terminal : {false, true}) {
    const auto& meshes = screenPool(terminal, s);
    const auto& lines = terminal ? termPool() : codePool();
    auto& entries = terminal ? termEntries_ : codeEntries_;
    for (std::size_t i = 0; i < meshes.size(); ++i) {
      auto* entry = screenContent_->addChild(ModelEntity::make(meshes[i], unlit(lines[i].color)));
      entry->setEnabled(false);
      entries.push_back(entry);
    }
  }
  for (int slot = 0; slot < kSlots; ++slot) {
    lineY.push_back((4.6f - 2.52f * static_cast<float>(slot)) * s);
    codeLines.push_back(nullptr);
    slotEntry_.push_back(0);
    assignScreenLine(static_cast<std::size_t>(slot));
  }
  cursor = add(*screenContent_, box({1, 1.9f, 0.2f}), unlit(grey(0.9f)), {21, -5.8f, 0});
  statusBar_ = add(*root, generatePlane(24 * s, 3 * s), unlit(grey(0.85f)),
                   {0, kScreenY - 5.75f, kScreenZ + 0.15f});
  statusBar_->setEnabled(false);

  // The screensaver: a buddy, a message slot, pong and the mascot.
  saverRoot = root->addChild(std::make_unique<Entity>());
  saverRoot->setPosition(glm::vec3(0, kScreenY, kScreenZ + 0.1f) * s);
  buddy = saverRoot->addChild(std::make_unique<Entity>());
  buddyBody = add(*buddy, box({5, 4.2f, 0.4f}, 1.6f), unlit(ssColors()[0]), {0, 0, 0});
  buddyEyeL = add(*buddy, generatePlane(0.9f * s, 1.2f * s, 0.4f * s), unlit(palette::black),
                  {-1.1f, 0.4f, 0.25f});
  buddyEyeR = add(*buddy, generatePlane(0.9f * s, 1.2f * s, 0.4f * s), unlit(palette::black),
                  {1.1f, 0.4f, 0.25f});
  add(*buddy, box({1.8f, 0.4f, 0.1f}, 0.2f), unlit(palette::black), {0, -1, 0.25f});
  saverText = nullptr;
  pongNode = saverRoot->addChild(std::make_unique<Entity>());
  pongBall = add(*pongNode, generatePlane(1 * s, 1 * s), unlit(palette::white), {0, 0, 0});
  padL = add(*pongNode, generatePlane(0.7f * s, 3.6f * s), unlit(palette::teal), {-9.2f, 0, 0});
  padR = add(*pongNode, generatePlane(0.7f * s, 3.6f * s), unlit(palette::pink), {9.2f, 0, 0});
  logoNode = add(*saverRoot, generatePlane(8 * s, 8 * s, 1.2f * s),
                 UnlitMaterial{palette::white, mascotTexture(), 0.5f}, {0, 0, 0});
  saverMode = std::uniform_int_distribution<int>(0, 3)(random);
  const float direction = uniform(0.5f, 5.78f);
  ssVX = std::cos(direction) * 11 * s;
  ssVY = std::sin(direction) * 11 * s;
}

void DeskEntity::snap(glm::vec3 target, float scale) {
  root->stopMoving();
  root->setPosition(target);
  root->setOrientation(glm::angleAxis(angleY, glm::vec3(0, 1, 0)));
  root->setScale(glm::vec3(scale));
  lastTarget = target;
  lastScale = scale;
}

void DeskEntity::glide(glm::vec3 target, float scale) {
  if (lastTarget && glm::distance(*lastTarget, target) < 0.01f &&
      std::fabs(lastScale - scale) < 0.01f)
    return;
  Transform transform;
  transform.translation = target;
  transform.rotation = glm::angleAxis(angleY, glm::vec3(0, 1, 0));
  transform.scale = glm::vec3(scale);
  root->move(transform, root->parent(), 0.55f, TimingFunction::easeInOut);
  lastTarget = target;
  lastScale = scale;
}

void DeskEntity::setScreenColor(const Color& color) {
  screen->materials[0] = unlit(color);
  ++materialRebuilds;
}

void DeskEntity::setScreen(const std::string& status, AgentState state,
                           std::optional<ToolKind> tool) {
  pulsing = state == AgentState::waiting;
  scrState = state;
  const bool working = state == AgentState::working;
  std::string accentKey = "off";
  if (working) accentKey = "w:" + std::string(tool ? kindName(*tool) : "x");
  if (accentKey != lastAccentKey) {
    lastAccentKey = accentKey;
    accent->materials[0] = unlit(working ? toolColor(tool) : grey(0.3f));
    ++materialRebuilds;
  }
  const std::string text = working ? std::string(prefixGraphemes(status, 24)) : std::string();
  if (text != lastStatus) {
    lastStatus = text;
    if (statusLine != nullptr) statusLine->removeFromParent();
    statusLine = nullptr;
    statusBar_->setEnabled(!text.empty());
    if (!text.empty()) {
      const FontSpec font{1.7f * s, 600, false};
      const float depth = std::max(0.0006f, 0.034f * s);
      const auto line =
          std::get<TextMesh>(fitted(text, kStatusTextWidth * s, true, [&](const std::string& cut) {
            return generateText(cut, depth, font);
          }));
      statusLine =
          root->addChild(centredText(line.text, font, depth, grey(0.08f),
                                     glm::vec3(0, kScreenY - 5.75f, kScreenZ + 0.25f) * s));
    }
  }
  const bool terminal = tool == ToolKind::run;
  if (terminal != usingTerm) {
    usingTerm = terminal;
    for (std::size_t slot = 0; slot < codeLines.size(); ++slot) assignScreenLine(slot);
  }
}

void DeskEntity::assignScreenLine(std::size_t slot) {
  auto& entries = usingTerm && !termEntries_.empty() ? termEntries_ : codeEntries_;
  if (entries.empty() || slot >= codeLines.size()) return;
  if (codeLines[slot] != nullptr) codeLines[slot]->setEnabled(false);
  ModelEntity* entry = entries[static_cast<std::size_t>(poolIdx) % entries.size()];
  ++poolIdx;
  codeLines[slot] = entry;
  entry->setPosition({0, lineY[slot], 0});
  entry->setEnabled(true);
}

void DeskEntity::tick(float dt) {
  // Chair and swivel.
  chairPull = approach(chairPull, chairPullTarget, 10, dt);
  chair->setPosition(glm::vec3(0, -7, 9 + chairPull / s * 1) * s);
  seatRot += wrapAngle(seatRotTarget - seatRot) * std::min(1.0f, 8 * dt);
  seat_->setOrientation(glm::angleAxis(seatRot, glm::vec3(0, 1, 0)));

  // Lamp: a warm glow that flickers briefly every 7.4 s.
  flickerT = std::fmod(flickerT + dt, 7400.0f);  // the flicker's 7.4 s period, a thousand times
  float glow = 0.88f + 0.06f * std::sin(1.7f * flickerT) + 0.025f * std::sin(4.3f * flickerT);
  if (std::fmod(flickerT, 7.4f) < 0.08f) glow *= 0.5f;
  lampGlow->setScale(glm::vec3(0.85f + 0.2f * glow));
  animMatT += dt;
  const bool animate = animMatT >= 1.0f / 15;  // animated materials: at most 15 times a second
  if (animate) {
    animMatT = 0;
    lampGlow->materials[0] = unlit({1.0f, 0.78f + 0.08f * glow, 0.3f + 0.15f * glow, 1});
    lampGlow->setOpacity(glow);
    ++materialRebuilds;
  }
  swayT = std::fmod(swayT + 0.7f * dt, 2 * kPi);
  plant->setOrientation(glm::angleAxis(0.06f * std::sin(swayT), glm::vec3(0, 0, 1)));

  if (!occupied) {
    if (lastScreenKey != "saver") {
      lastScreenKey = "saver";
      setScreenColor(grey(0.05f));
    }
    screenContent_->setEnabled(false);
    saverRoot->setEnabled(true);
    buddy->setEnabled(saverMode == 0);
    if (saverText != nullptr) saverText->setEnabled(saverMode == 1);
    pongNode->setEnabled(saverMode == 2);
    logoNode->setEnabled(saverMode == 3);
    saverModeT += dt;
    if (saverModeT > 7) {
      saverModeT = 0;
      saverMode = (saverMode + 1 + std::uniform_int_distribution<int>(0, 2)(*random_)) % 4;
    }
    if (saverMode == 2) {
      tickPong(dt);
    } else {
      tickBouncer(dt);
    }
    return;
  }
  saverRoot->setEnabled(false);
  if (pulsing) {
    pulseT = std::fmod(pulseT + 4 * dt, 2 * kPi);
    if (animate) {
      const float k = (std::sin(pulseT) + 1) / 2;
      setScreenColor({0.45f + 0.45f * k, 0.12f + 0.1f * (1 - k), 0.04f, 1});
    }
    lastScreenKey = "pulse";
  } else {
    const char* key = nullptr;
    switch (scrState) {
      case AgentState::thinking:
        key = "state:thinking";
        break;
      case AgentState::working:
        key = "state:working";
        break;
      case AgentState::waiting:
        key = "state:waiting";
        break;
      case AgentState::idle:
        key = "state:idle";
        break;
      case AgentState::done:
        key = "state:done";
        break;
      case AgentState::error:
        key = "state:error";
        break;
    }
    if (lastScreenKey != key) {
      lastScreenKey = key;
      setScreenColor(stateBackground(scrState));
    }
  }
  const bool scrolling = scrState == AgentState::thinking || scrState == AgentState::working;
  screenContent_->setEnabled(scrolling);
  if (!scrolling) return;
  blinkT = std::fmod(blinkT + dt, 1.0f);
  cursor->setEnabled(blinkT < 0.55f);
  // Lines show only inside the screen, and above the status bar while there is one.
  const float lowest = (statusBar_->isEnabled() ? -2.5f : -5.5f) * s;
  for (std::size_t slot = 0; slot < lineY.size(); ++slot) {
    lineY[slot] += 3.5f * s * dt;
    if (lineY[slot] > 6 * s) {
      lineY[slot] -= 12.6f * s;
      assignScreenLine(slot);
    }
    codeLines[slot]->setPosition({0, lineY[slot], 0});
    codeLines[slot]->setEnabled(lineY[slot] > lowest && lineY[slot] < 4.9f * s);
  }
}

}  // namespace tallyloft
