#pragma once

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "crew/AgentNode.h"
#include "graph/SceneObject.h"

namespace tallyloft {

// One agent's workstation: desk, monitor, chair, lamp and plant. The monitor mirrors the agent
// (a background per state, scrolling code or terminal lines while it thinks or works, a tool
// accent and a status line); an unoccupied desk runs a screensaver that cycles through a bouncing
// buddy, a message, pong and the mascot. Sizes are multiples of the world scale `s`. Random draws
// come from the owner's generator, which must outlive the desk. Main-thread only; needs a
// QGuiApplication.
class DeskEntity : public SceneObject {
 public:
  DeskEntity(float worldScale, std::mt19937& random);

  void snap(glm::vec3 target, float scale);
  // Animates to `target` and `scale` over 0.55 s, unless both are within 0.01 of the last ones.
  void glide(glm::vec3 target, float scale);
  void setAngle(float angle) { angleY = angle; }
  // Mirrors the agent; rebuilds only what changed.
  void setScreen(const std::string& status, AgentState state, std::optional<ToolKind> tool);
  void tick(float dt);

  static Color stateBackground(AgentState state);
  static Color toolColor(std::optional<ToolKind> tool);
  // Every material the desks have replaced so far (for measuring).
  static long long materialRebuilds;

  ModelEntity* screen = nullptr;
  ModelEntity* accent = nullptr;
  float s;
  bool pulsing = false;
  float pulseT = 0;
  float animMatT = 0;
  std::string lastScreenKey;
  std::string lastAccentKey;
  Entity* statusLine = nullptr;
  std::string lastStatus;
  std::optional<glm::vec3> lastTarget;
  float lastScale = 1;
  float angleY = 0;
  Entity* chair = nullptr;
  float chairPull = 0, chairPullTarget = 0, seatRot = 0, seatRotTarget = 0;
  std::vector<ModelEntity*> codeLines;  // the line shown in each slot
  ModelEntity* cursor = nullptr;
  std::vector<float> lineY;
  int poolIdx = 0;
  bool usingTerm = false;
  AgentState scrState = AgentState::idle;
  float blinkT = 0;
  ModelEntity* lampGlow = nullptr;
  Entity* plant = nullptr;
  float flickerT = 0, swayT = 0;
  bool occupied = false;
  Entity* saverRoot = nullptr;
  int saverMode = 0;
  float saverModeT = 0;
  float ssX = 0, ssY = 0, ssVX = 0, ssVY = 0, ssPulseT = 0;
  int ssColorIdx = 0;
  Entity* buddy = nullptr;
  ModelEntity* buddyBody = nullptr;
  ModelEntity* buddyEyeL = nullptr;
  ModelEntity* buddyEyeR = nullptr;
  Entity* saverText = nullptr;
  int saverTextIdx = -1;
  Entity* pongNode = nullptr;
  ModelEntity* pongBall = nullptr;
  ModelEntity* padL = nullptr;
  ModelEntity* padR = nullptr;
  float pbx = 0, pby = 0, pbvx = 0, pbvy = 0, pongMissT = 0, serveT = 0.5f;
  ModelEntity* logoNode = nullptr;
  float ssHalfX, ssHalfY;

  static const std::vector<Color>& ssColors();
  static const std::vector<std::string>& saverMsgs();

 private:
  void assignScreenLine(std::size_t slot);
  void setScreenColor(const Color& color);
  void tickBouncer(float dt);
  void tickPong(float dt);
  void swapSaverText();
  float uniform(float low, float high);

  std::mt19937* random_;
  Entity* seat_ = nullptr;
  Entity* screenContent_ = nullptr;  // the text lines and cursor
  ModelEntity* statusBar_ = nullptr;
  std::vector<ModelEntity*>
      codeEntries_;  // one entity per pool line, moved into slots as they scroll
  std::vector<ModelEntity*> termEntries_;
  std::vector<std::size_t> slotEntry_;  // which entry each slot shows
};

}  // namespace tallyloft
