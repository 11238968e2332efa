#pragma once

#include <optional>
#include <string>
#include <vector>

#include "graph/SceneObject.h"

namespace tallyloft {

// A room's whiteboard: the session's current task, wrapped to two lines, written out line by
// line by a red marker after a little wobble. Sizes are multiples of the world scale `s`.
// Main-thread only; needs a QGuiApplication.
class TaskBoard : public SceneObject {
 public:
  explicit TaskBoard(float worldScale);

  // Shows `task`, or "☕ …" when there is none; nothing when the text is unchanged.
  void setTask(const std::optional<std::string>& task);
  void tick(float dt);

  // Greedy word wrap to lines of at most `width` characters (longer words are cut); past
  // `maxLines`, the last kept line is cut to width − 1 characters and ends with "…".
  static std::vector<std::string> wrap(const std::string& text, std::size_t width,
                                       std::size_t maxLines);

  struct Line {
    ModelEntity* cover;
    float width;
    float y;
    float left;
  };

  float s;
  Entity* textWrap = nullptr;
  std::string lastTask;
  float wobbleT = 1;
  float revealT = 1;
  float revealDur = 0.5f;
  std::vector<Line> lineInfo;
  ModelEntity* marker = nullptr;
  glm::vec3 markerHome{0};

 private:
  Entity* face_ = nullptr;  // turns with the wobble
  float writingTime_ = 0;
};

}  // namespace tallyloft
