#include "scene/TaskBoard.h"

#include <cmath>
#include <glm/gtc/quaternion.hpp>

#include "base/Text.h"
#include "graph/TextEntity.h"

namespace tallyloft {
namespace {

const Color kSurface{0.92f, 0.92f, 0.92f, 1};
const Color kInk{0.13f, 0.18f, 0.45f, 1};
constexpr float kFont = 3.3f;
constexpr float kLineGap = 4.4f;
constexpr float kLeft = -17;

std::size_t length(std::string_view text) {
  std::size_t count = 0;
  while (!text.empty()) {
    text.remove_prefix(prefixGraphemes(text, 1).size());
    ++count;
  }
  return count;
}

}  // namespace

std::vector<std::string> TaskBoard::wrap(const std::string& text, std::size_t width,
                                         std::size_t maxLines) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t space = text.find(' ', start);
    std::string_view word = std::string_view(text).substr(
        start, space == std::string::npos ? std::string::npos : space - start);
    while (length(word) > width) {  // cut words longer than a line
      const std::string_view piece = prefixGraphemes(word, width);
      words.emplace_back(piece);
      word.remove_prefix(piece.size());
    }
    if (!word.empty()) words.emplace_back(word);
    if (space == std::string::npos) break;
    start = space + 1;
  }
  std::vector<std::string> lines;
  for (const std::string& word : words) {
    if (!lines.empty() && length(lines.back()) + 1 + length(word) <= width) {
      lines.back() += " " + word;
    } else {
      lines.push_back(word);
    }
  }
  if (lines.size() > maxLines) {
    lines.resize(maxLines);
    lines.back() = std::string(prefixGraphemes(lines.back(), width - 1)) + "\u2026";
  }
  return lines;
}

TaskBoard::TaskBoard(float worldScale) : s(worldScale) {
  root->name = "board";
  face_ = root->addChild(std::make_unique<Entity>());
  auto frame = ModelEntity::make(generateBox(glm::vec3(39.5f, 17, 1) * s, 0.4f * s),
                                 LitMaterial{{0.55f, 0.55f, 0.55f, 1}, 0.35f, true});
  frame->setPosition(glm::vec3(0, 0, -0.3f - 0.5f) * s);
  face_->addChild(std::move(frame));
  auto surface = ModelEntity::make(generatePlane(37 * s, 14.5f * s, 0.5f * s),
                                   UnlitMaterial{kSurface, nullptr, std::nullopt});
  surface->setPosition(glm::vec3(0, 0, 0.6f) * s);
  face_->addChild(std::move(surface));
  auto tray = ModelEntity::make(generateBox(glm::vec3(22, 1.2f, 2.2f) * s, 0.3f * s),
                                LitMaterial{{0.5f, 0.5f, 0.5f, 1}, 0.5f, false});
  tray->setPosition(glm::vec3(0, -8.2f, 1) * s);
  face_->addChild(std::move(tray));
  markerHome = glm::vec3(6, -7.1f, 1.6f) * s;
  auto pen = ModelEntity::make(generateBox(glm::vec3(6, 1, 1) * s, 0.4f * s),
                               LitMaterial{palette::red, 0.7f, false});
  pen->setPosition(markerHome);
  marker = face_->addChild(std::move(pen));
  setTask(std::nullopt);
}

void TaskBoard::setTask(const std::optional<std::string>& task) {
  const std::string text = task.value_or("\u2615 \u2026");
  if (text == lastTask && textWrap != nullptr) return;
  lastTask = text;
  if (textWrap != nullptr) textWrap->removeFromParent();
  lineInfo.clear();  // the covers went with the old text
  textWrap = face_->addChild(std::make_unique<Entity>());
  const std::vector<std::string> lines = wrap(text, 18, 2);
  const float top = kLineGap * (static_cast<float>(lines.size()) - 1) / 2;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const float y = (top - kLineGap * static_cast<float>(i)) * s;
    auto label = ModelEntity::make(generateText(lines[i], 0.3f * s, {kFont * s, 600, false}),
                                   UnlitMaterial{kInk, nullptr, std::nullopt});
    const BoundingBox bounds = meshBounds(label->mesh);
    label->setPosition({kLeft * s, y - bounds.center().y, 0.7f * s});
    const float width = bounds.extents().x * 2;
    textWrap->addChild(std::move(label));
    auto cover =
        ModelEntity::make(generatePlane(1, 1), UnlitMaterial{kSurface, nullptr, std::nullopt});
    cover->setScale({width + 1.2f * s, kLineGap * s, 1});
    cover->setPosition({kLeft * s + width / 2, y, 1.1f * s});
    lineInfo.push_back(
        {textWrap->addChild(std::move(cover)), width + 1.2f * s, y, kLeft * s - 0.6f * s});
    characters += length(lines[i]);
  }
  // The group grows in the board's plane only, so the ink never sinks behind the surface.
  textWrap->setScale({0.6f, 0.6f, 1});
  wobbleT = 0;
  revealT = 0;
  writingTime_ = 0;
  revealDur = std::max(0.045f * static_cast<float>(characters), 0.5f);
}

void TaskBoard::tick(float dt) {
  if (wobbleT < 1) {
    wobbleT = std::min(wobbleT + dt / 0.7f, 1.0f);
    const float k = 1 - wobbleT;
    face_->setOrientation(glm::angleAxis(std::sin(wobbleT * 18) * 0.06f * k, glm::vec3(0, 0, 1)));
    const float grow = 0.6f + 0.4f * (1 - k * k);
    textWrap->setScale({grow, grow, 1});
  }
  if (revealT >= 1 || lineInfo.empty()) return;
  revealT = std::min(revealT + dt / revealDur, 1.0f);
  writingTime_ += dt;
  const float share = 1.0f / static_cast<float>(lineInfo.size());
  for (std::size_t i = 0; i < lineInfo.size(); ++i) {
    const Line& line = lineInfo[i];
    const float written = std::clamp((revealT - share * static_cast<float>(i)) / share, 0.0f, 1.0f);
    const float remaining = 1 - written;
    // The cover shrinks from its left edge: its right edge stays put.
    line.cover->setEnabled(remaining >= 0.001f);
    line.cover->setScale({line.width * std::max(remaining, 0.001f), kLineGap * s, 1});
    line.cover->setPosition({line.left + line.width * (1 - remaining / 2), line.y, 1.1f * s});
    if (written > 0 && written < 1) {
      marker->setPosition({line.left + line.width * written,
                           line.y - 1.4f * s + std::sin(60 * writingTime_) * 0.25f * s, 1.6f * s});
      marker->setOrientation(glm::angleAxis(0.9f, glm::vec3(0, 0, 1)));
    }
  }
  if (revealT >= 1) {
    marker->setPosition(markerHome);
    marker->setOrientation(glm::quat(1, 0, 0, 0));
  }
}

}  // namespace tallyloft
