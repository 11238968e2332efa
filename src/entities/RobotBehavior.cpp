// The robot's behaviour: the operations the scene controller calls, walking and turning.
#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>

#include "entities/RobotEntity.h"
#include "graph/Motion.h"

namespace tallyloft {

namespace {

const Color kSleepingEyes{0.28f, 0.5f, 0.62f, 1};
const Color kBarDim{0.16f, 0.16f, 0.16f, 1};
const Color kBarLit{0.3f, 1.0f, 0.85f, 1};

}  // namespace

void RobotEntity::placeAt(float x, float y, float z) {
  root->setPosition({x, y, z});
  prevX = x;
  lastLegPos = {x, y};
}

void RobotEntity::setTerritory(float newMinX, float newMaxX, float newMinY, float newMaxY) {
  if (newMinX > newMaxX) std::swap(newMinX, newMaxX);
  if (newMinY > newMaxY) std::swap(newMinY, newMaxY);
  const bool xChanged = std::fabs(newMinX - minX) > 0.0001f || std::fabs(newMaxX - maxX) > 0.0001f;
  minX = newMinX, maxX = newMaxX, minY = newMinY, maxY = newMaxY;
  const glm::vec3 at = root->position();
  const bool routine = entranceOrigin || exitTarget || inCouchRoutine;
  if (!routine && (at.x < minX || at.x > maxX || at.y < minY || at.y > maxY)) {
    placeAt(uniform(minX, std::max(minX, maxX)), uniform(minY, std::max(minY, maxY)), at.z);
  }
  if (xChanged) haveTarget = false;
}

void RobotEntity::setBuildTarget(std::optional<glm::vec3> seat,
                                 std::optional<glm::vec3> faceToward) {
  buildTarget = seat;
  faceTarget = faceToward;
}

void RobotEntity::setSeated(bool isSeated, float facing) {
  seated = isSeated;
  seatFacing = facing;
}

void RobotEntity::setLounge(std::optional<glm::vec3> spot, float facing) {
  if (spot && loungeBase && glm::distance(*spot, *loungeBase) > 0.03f) loungeTarget.reset();
  loungeBase = spot;
  loungeFacing = facing;
}

void RobotEntity::clearCouchRoutine() {
  inCouchRoutine = false;
  couchPhase = 0;
  couchDwell = 0;
}

void RobotEntity::startCouchRoutine(glm::vec3 coffeeSpot, glm::vec3 seat, float facing) {
  couchCoffeeSpot = coffeeSpot;
  couchSeatPos = seat;
  couchFacing = facing;
  if (inCouchRoutine) return;
  inCouchRoutine = true;
  couchPhase = 0;
  couchDwell = 0;
}

void RobotEntity::recruitFromCoffee(glm::vec3 p) {
  placeAt(p.x, p.y, p.z);
  entranceOrigin.reset();
  spawnHold = 0;
  loungeBase.reset();
  wasLounging = true;
}

void RobotEntity::beginEntrance() {
  entranceOrigin = root->position();
}

void RobotEntity::setSpawnHold(float seconds) {
  spawnHold = seconds;
}

void RobotEntity::setExit(glm::vec3 door, float hold) {
  exitTarget = door;
  loungeBase.reset();
  loungeTarget.reset();
  buildTarget.reset();
  seated = false;
  returning = false;
  surpriseT = 0;
  stretchT = 0;
  clearCouchRoutine();
  exitHold = hold;
  exitThrough = false;
  exitLerp = 0;
  const glm::vec3 at = root->position();
  exitDist0 = std::max(0.05f, glm::distance(glm::vec2(at), glm::vec2(door)));
}

void RobotEntity::refreshExit(glm::vec3 door, float newMinX, float newMaxX, float newMinY,
                              float newMaxY) {
  if (!exitTarget || poofing) return;
  exitTarget = door;
  minX = std::min(newMinX, newMaxX), maxX = std::max(newMinX, newMaxX);
  minY = std::min(newMinY, newMaxY), maxY = std::max(newMinY, newMaxY);
  glm::vec3 at = root->position();
  if (maxX > minX) at.x = std::clamp(at.x, minX, maxX);
  root->setPosition(at);
  exitDist0 = std::max({exitDist0, 0.05f, glm::distance(glm::vec2(at), glm::vec2(door))});
}

void RobotEntity::clink(glm::vec3 peer) {
  if (!loungeBase || exitTarget) return;
  clinkT = 1.1f;
  clinkSparked = false;
  clinkYaw = std::atan2(peer.x - root->position().x, 0.8f);
  chatterHold = 0;
  if (chatterBubble != nullptr && !bubbleClosing) {
    bubbleClosing = true;
    bubbleT = 0;
  }
}

void RobotEntity::startPoof() {
  poofing = true;
  poofScale0 = std::max(0.0001f, rig->scale().x);
}

void RobotEntity::poseAsleep() {
  asleepEase = std::min(1.0f, asleepEase + lastDt / 0.45f);
  if (compactPose != CompactPose::asleep) {
    compactPose = CompactPose::asleep;
    lastLit = -1;
    for (ModelEntity* eye : {leftEye, rightEye})
      eye->materials[0] = UnlitMaterial{kSleepingEyes, nullptr, std::nullopt};
    for (ModelEntity* bar : dlBars) bar->setEnabled(false);
  }
}

void RobotEntity::poseReceiving(float progress) {
  asleepEase = std::max(0.0f, asleepEase - lastDt / 0.3f);
  if (dlBars.empty()) {
    for (int i = 0; i < 4; ++i) {
      auto bar = ModelEntity::make(generatePlane(14 * s, 2.4f * s, 1 * s),
                                   UnlitMaterial{kBarDim, nullptr, std::nullopt});
      bar->setPosition(glm::vec3(0, (static_cast<float>(i) - 1.5f) * 3.6f + 9, 8.6f) * s);
      bar->setEnabled(false);
      dlBars.push_back(head_->addChild(std::move(bar)));
    }
  }
  if (compactPose != CompactPose::receiving) {
    compactPose = CompactPose::receiving;
    lastLit = -1;
    for (ModelEntity* bar : dlBars) bar->setEnabled(true);
  }
  const int lit = static_cast<int>(std::round(std::clamp(progress, 0.0f, 1.0f) * 4));
  if (lit != lastLit) {
    for (int i = 0; i < 4; ++i) {
      dlBars[static_cast<std::size_t>(i)]->materials[0] =
          UnlitMaterial{i < lit ? kBarLit : kBarDim, nullptr, std::nullopt};
    }
    lastLit = lit;
  }
}

void RobotEntity::clearCompactPose() {
  if (compactPose == CompactPose::none) return;
  if (asleepEase > 0.3f) {
    wakeShakeT = 0.7f;
    stretchT = std::max(stretchT, 0.9f);
  }
  compactPose = CompactPose::none;
  lastLit = -1;
  for (ModelEntity* bar : dlBars) bar->setEnabled(false);
  colorHold = 0;
  applyStateColor(state);
}

float RobotEntity::stepTowards(glm::vec2 goal, float step) {
  glm::vec3 at = root->position();
  const glm::vec2 offset = goal - glm::vec2(at);
  const float distance = glm::length(offset);
  if (distance < 1e-6f || step <= 0) return 0;
  const float walked = std::min(distance, step);
  const glm::vec2 direction = offset / distance;
  at.x += direction.x * walked;
  at.y += direction.y * walked;
  root->setPosition(at);
  // Sideways walkers turn towards their way; nobody ever shows the viewer its back.
  yaw = std::atan2(direction.x, 0.6f);
  return walked;
}

void RobotEntity::turnTowards(float goalYaw, float rate, float dt) {
  yaw += wrapAngle(goalYaw - yaw) * std::min(1.0f, rate * dt);
}

void RobotEntity::updateExit(float dt, bool& moved, float& walked) {
  const glm::vec3 door = *exitTarget;
  glm::vec3 at = root->position();
  const float awayX = door.x - at.x;
  if (exitHold > 0) {
    exitHold = std::max(0.0f, exitHold - dt);
    turnTowards(std::atan2(awayX, 0.6f), 4, dt);
    return;
  }
  if (!territoryUsable()) {
    startPoof();
    return;
  }
  if (exitThrough) {
    const glm::vec3 goal{door.x, door.y + 2 * s, door.z - 2.6f * s};
    at += (goal - at) * std::min(1.0f, 4 * dt);
    root->setPosition(at);
    if (at.z <= door.z - 2 * s) startPoof();
    return;
  }
  const float distance = glm::distance(glm::vec2(at), glm::vec2(door));
  if (distance >= 7 * s) {
    exitLerp = approach(exitLerp, 1, 5, dt);
    walked = stepTowards(glm::vec2(door), std::min(distance, dt * exitLerp));
    moved = walked > 0;
    glm::vec3 now = root->position();
    now.z = approach(now.z, door.z, 4, dt);
    root->setPosition(now);
    return;
  }
  exitPauseT += dt;
  turnTowards(0, 4, dt);
  if (exitPauseT <= 0.25f && waveT <= 0) waveT = 0.65f;  // goodbye
  if (exitPauseT > 0.75f) exitThrough = true;
}

}  // namespace tallyloft
