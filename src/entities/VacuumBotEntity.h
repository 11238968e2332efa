#pragma once

#include <optional>

#include "graph/SceneObject.h"

namespace tallyloft {

// The cleaning robot of a compaction: rolls to a spot, deploys a canister vacuum whose nozzle
// swallows the clutter fed to it (each item makes it gulp), stows it and rolls away. A passive
// puppet: the compaction driver moves it and switches the vacuum. Sizes are multiples of `s`.
class VacuumBotEntity : public SceneObject {
 public:
  explicit VacuumBotEntity(float worldScale);

  // A new destination (and an x to face once there); ignored when it is the current one.
  void moveTo(glm::vec3 point, std::optional<float> facing = std::nullopt);
  void startVacuum();
  void stowVacuum();
  glm::vec3 nozzleWorld() const { return mouthMarker->position(nullptr); }
  glm::vec3 handWorld() const { return hand->position(nullptr); }
  void tick(float dt);

  Entity* rig = nullptr;
  float s;
  Entity* armPivot = nullptr;
  ModelEntity* hand = nullptr;
  float yaw = 0, bob = 0;
  std::optional<glm::vec3> target;
  std::optional<float> faceX;
  bool leaving = false, arrived = false;
  float scaleVal = 1;
  float armAngle = -1.2f;
  float speed = 2.0f;
  bool isDone = false;
  Entity* vacRoot = nullptr;
  Entity* nozzleRoot = nullptr;
  Entity* nozzleHead = nullptr;
  Entity* mouthMarker = nullptr;
  ModelEntity* suctionCone = nullptr;
  ModelEntity* canisterLamp = nullptr;
  glm::vec3 vacBase{0};
  float deployT = -1;
  bool stowing = false, vacuumOn = false;
  float rumble = 0, gulpT = 0;
};

}  // namespace tallyloft
