// The robot's behaviour: the operations the scene controller calls and the per-frame tick.
#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>

#include "entities/RobotEntity.h"

#include "graph/Motion.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kFaceRate = 10;  // how fast eyes and mouth follow their targets

// The ease-out-back pop of bubbles and banners, for progress 0..1.
float easeOutBack(float progress) {
  const float u = std::min(1.0f, progress) - 1;
  return 1 + 2.7f * u * u * u + 1.7f * u * u;
}

struct FaceTarget {
  float eyeSX, eyeSY, eyeRot, eyeOY, mouthSX, mouthSY, mouthOY;
};

FaceTarget faceFor(AgentState state) {
  switch (state) {
    case AgentState::thinking:
      return {1.0f, 1.0f, 0, 0.4f, 0.7f, 0.55f, 0};
    case AgentState::working:
      return {1.05f, 0.7f, 0, -0.3f, 0.8f, 0.5f, 0};
    case AgentState::waiting:
      return {1.2f, 1.28f, 0, 0.4f, 0.65f, 1.25f, -0.4f};
    case AgentState::idle:
      return {1.0f, 0.45f, 0, -0.4f, 0.55f, 0.4f, -0.2f};
    case AgentState::done:
      return {1.05f, 0.45f, 0.35f, 0.3f, 1.35f, 0.75f, 0};
    case AgentState::error:
      return {1.0f, 0.66f, 0, -0.5f, 1.05f, 0.6f, -0.7f};
  }
  return {1, 1, 0, 0, 1, 0.6f, 0};
}

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

void RobotEntity::tick(float dt) {
  lastDt = dt;
  // Poof: nothing else runs while the robot vanishes.
  if (poofing) {
    poof = std::max(0.0f, poof - 3.5f * dt);
    rig->setScale(glm::vec3(std::max(0.0001f, poofScale0 * poof)));
    shadow->setScale(glm::vec3(std::max(0.0001f, poof)));
    if (permBanner != nullptr) permBanner->setEnabled(false);
    return;
  }
  if (spawnHold > 0) {
    spawnHold = std::max(0.0f, spawnHold - dt);
    rig->setScale(glm::vec3(0.0001f));
    shadow->setScale(glm::vec3(0.0001f));
    if (permBanner != nullptr) permBanner->setEnabled(false);
    for (const Particle& particle : particles) particle.e->setEnabled(false);
    return;
  }
  shadow->setScale(glm::vec3(1));
  assemble = std::min(1.0f, assemble + dt / 0.4f);
  bodyScale = approach(bodyScale, bodyScaleTarget, 4, dt);

  if (colorHold > 0) {
    colorHold = std::max(0.0f, colorHold - dt);
    if (colorHold == 0 && displayedColor != state) applyStateColor(state);
  }
  // Phases wrap on a whole number of turns, so they keep their precision however long it runs.
  bobPhase = std::fmod(bobPhase + dt * (state == AgentState::working   ? 7
                                        : state == AgentState::waiting ? 6
                                                                       : 2.2f),
                       20 * kPi);

  // Called back from the lounge or the couch to the desk.
  const bool lounging = loungeBase.has_value();
  const bool onCouch = inCouchRoutine && couchPhase == 1;
  if (!lounging && !onCouch && (wasLounging || wasOnCouch) && buildTarget) {
    surpriseT = 0.45f;
    returning = true;
    hop = 1;
    if (wasOnCouch) sitT = 0;
    burst(BurstKind::sparkle, palette::yellow);
  }
  if (lounging) returning = false;
  wasLounging = lounging;
  wasOnCouch = onCouch;
  surpriseT = std::max(0.0f, surpriseT - dt);
  stretchT = std::max(0.0f, stretchT - dt);
  if (returning && seated && sitT > 0.6f) returning = false;

  // Clink and toast.
  if (clinkT > 0) {
    clinkT = std::max(0.0f, clinkT - dt);
    if (clinkT <= 0.55f && !clinkSparked) {
      clinkSparked = true;
      emitSparks(7, palette::yellow, {10, 20}, 0.2f, 0.5f, 1.2f, {8, 8, 6});
    }
  }
  toastT = std::max(0.0f, toastT - dt);

  // Chatter, for loungers.
  const bool exiting = exitTarget.has_value();
  if (!lounging) {
    chatterHold = 0;
    if (chatterBubble != nullptr && !bubbleClosing) {
      bubbleClosing = true;
      bubbleT = 0;
    }
  } else if (settling) {
    if (chatterBubble != nullptr && !bubbleClosing) {
      bubbleClosing = true;
      bubbleT = 0;
    }
  } else if (!exiting && cheerT <= 0) {
    if (chatterHold > 0) {
      chatterHold = std::max(0.0f, chatterHold - dt);
      if (chatterHold == 0 && chatterBubble != nullptr && !bubbleClosing) {
        bubbleClosing = true;
        bubbleT = 0;
      }
    } else if (clinkT <= 0 && toastT <= 0) {
      chatterT -= dt;
      if (chatterT <= 0) {
        say(std::nullopt);
        chatterT = uniform(3.5f, 7.0f);
      }
    }
  }
  updateBubble(dt);

  // Couch routine.
  if (inCouchRoutine && !exiting) {
    if (couchPhase == 0) {
      if (!loungeBase || glm::distance(*loungeBase, couchCoffeeSpot) > 0.03f)
        setLounge(couchCoffeeSpot, loungeFacing);
      seated = false;
      if (glm::distance(glm::vec2(root->position()), glm::vec2(couchCoffeeSpot)) < 0.07f) {
        couchDwell += dt;
        if (couchDwell > 2.6f) couchPhase = 1;
      }
    } else {
      loungeBase.reset();
      buildTarget = couchSeatPos;
      seated = true;
      seatFacing = couchFacing;
    }
  }

  // Motion: exactly one branch.
  bool moved = false;
  float walked = 0;
  const bool usable = territoryUsable();
  glm::vec3 at = root->position();
  if (exiting) {
    updateExit(dt, moved, walked);
  } else if (doneSpinT > 0 && usable) {
    doneSpinT = std::max(0.0f, doneSpinT - dt);
    yaw = spinStartYaw + 2 * kPi * smoothstep(1 - doneSpinT);
    if (doneSpinT == 0) yaw = spinStartYaw;
  } else if (stretchT > 0 && usable) {
    turnTowards(0, 4, dt);
  } else if (loungeBase && usable) {
    const glm::vec3 spot = loungeTarget.value_or(*loungeBase);
    const float distance = glm::distance(glm::vec2(at), glm::vec2(spot));
    if (distance >= 0.04f) {
      walked = stepTowards(glm::vec2(spot), std::min(distance, distance < 0.15f ? 0.4f * dt : dt));
      moved = walked > 0;
    } else {
      turnTowards(clinkT > 0 ? clinkYaw : toastT > 0 ? toastYaw : loungeFacing, 4, dt);
    }
    glm::vec3 now = root->position();
    now.z = approach(now.z, spot.z, 4, dt);
    root->setPosition(now);
  } else if (buildTarget && usable) {
    const glm::vec3 seat = *buildTarget;
    glm::vec3 now = root->position();
    now.z = approach(now.z, seat.z, 4, dt);
    root->setPosition(now);
    const float distance = glm::distance(glm::vec2(now), glm::vec2(seat));
    if (surpriseT > 0) {
      turnTowards(std::atan2(seat.x - now.x, 0.6f), 4, dt);
    } else if (seated && sitT > 0.5f) {
      glm::vec3 slide = root->position();
      slide.x = approach(slide.x, seat.x, 4, dt);
      slide.y = approach(slide.y, seat.y, 4, dt);
      root->setPosition(slide);
      turnTowards(state == AgentState::waiting ? 0 : seatFacing, 4, dt);
    } else if (distance >= 0.02f) {
      walked = stepTowards(glm::vec2(seat), (returning ? 1.15f : 0.6f) * dt);
      moved = walked > 0;
    } else if (seated) {
      turnTowards(state == AgentState::waiting ? 0 : seatFacing, 4, dt);
    } else {
      const float goal = faceTarget ? std::atan2(faceTarget->x - now.x, 0.6f) : 0.0f;
      turnTowards(goal, 4, dt);
    }
  } else if ((state == AgentState::thinking || state == AgentState::idle) && usable) {
    if (!haveTarget && !settling) {
      target = {uniform(minX, maxX), uniform(minY, std::max(minY, maxY))};
      haveTarget = true;
    }
    if (haveTarget) {
      const float distance = glm::distance(glm::vec2(at), target);
      if (distance < 0.005f) {
        haveTarget = false;
      } else {
        walked = stepTowards(target, 0.5f * dt);
        moved = walked > 0;
      }
    }
  } else {
    turnTowards(0, 4, dt);
  }
  if (state == AgentState::waiting && !moved && !exiting) turnTowards(0, 4, dt);
  walking = moved;

  // Sitting.
  const bool spinning = doneSpinT > 0;
  if ((seated || spinning) && !moved) {
    sitT = std::min(1.0f, sitT + dt / 1.3f);
  } else {
    sitT = std::max(0.0f, sitT - dt / 0.4f);
  }
  walkPhase = std::fmod(walkPhase + (moved ? 34 * walked : 2 * dt), 2 * kPi);
  legLerp = approach(legLerp, moved ? 1.0f : 0.0f, 8, dt);

  // Sway spring.
  const float x = root->position().x;
  const float velocity = dt > 0 ? (x - prevX) / dt : 0;
  jVel += dt * (-50 * jPos - 7 * jVel - 6 * velocity);
  jPos = std::clamp(jPos + jVel * dt, -0.5f, 0.5f);
  prevX = x;
  hop = std::max(0.0f, hop - 3 * dt);

  // Idle micro-movements.
  const bool microOk = seated && sitT > 0.8f && !moved && !lounging && stretchT <= 0 && !exiting;
  if (microOk && !settling) {
    microT -= dt;
    if (microT <= 0) {
      microT = uniform(8, 18);
      microDur = uniform(0.9f, 1.6f);
      microKind = std::uniform_int_distribution<int>(0, 2)(*random_);
      microHeadYaw = microKind == 0 ? uniform(-0.45f, 0.45f) : 0;
      microHeadPitch = microKind == 1 ? -0.32f : 0;
    }
  }
  if (microDur > 0 && microOk) {
    microDur = std::max(0.0f, microDur - dt);
  } else {
    microDur = 0;
    microHeadYaw = 0;
    microHeadPitch = 0;
  }
  microYawS = approach(microYawS, microHeadYaw, 5, dt);
  microPitchS = approach(microPitchS, microHeadPitch, 5, dt);

  errAmt = approach(errAmt, state == AgentState::error && !moved && !exiting ? 1.0f : 0.0f, 3, dt);
  const bool holdingBubble = lounging && chatterBubble != nullptr && !bubbleClosing &&
                             clinkT <= 0 && toastT <= 0 && !exiting;
  chatterTiltAmt = approach(chatterTiltAmt, holdingBubble ? 0.26f : onPhone ? 0.15f : 0.0f, 4, dt);
  if (compactPose == CompactPose::none && (asleepEase > 0 || wakeShakeT > 0)) {
    asleepEase = std::max(0.0f, asleepEase - dt / 0.4f);
    wakeShakeT = std::max(0.0f, wakeShakeT - dt);
  }
  if (cheerT > 0) cheerT = std::max(0.0f, cheerT - dt);
  if (onPhone) layPhoneCord();
  updateBanner(dt, exiting);

  // Tool sparks while working at the desk.
  if (state == AgentState::working && seated && sitT > 0.7f && !lounging) {
    emitTimer -= dt;
    if (emitTimer <= 0) {
      emitTimer = uniform(0.13f, 0.32f);
      emitToolParticle();
    }
  }
  advanceParticles(dt);

  // Territory clamp.
  if (usable && !entranceOrigin && !exiting) {
    glm::vec3 now = root->position();
    now.x = std::clamp(now.x, minX, maxX);
    if (!onCouch && maxY >= minY) now.y = std::clamp(now.y, minY, maxY);
    root->setPosition(now);
  }
  poseBody(dt, moved, walked, exiting);
}

bool RobotEntity::atRest() const {
  if (poofing || spawnHold > 0 || assemble < 1 || exitTarget || entranceOrigin || walking)
    return false;
  if (chatterBubble != nullptr || !particles.empty() || (permBanner != nullptr && bannerT < 1))
    return false;
  if (clinkT > 0 || toastT > 0 || cheerT > 0 || doneSpinT > 0 || stretchT > 0 || surpriseT > 0 ||
      hop > 0 || (waveT > 0 && !seated) || blinkDur > 0 || microDur > 0 || wakeShakeT > 0)
    return false;
  const bool onCouch = inCouchRoutine && couchPhase == 1;
  if (inCouchRoutine && (!onCouch || sitT < 1)) return false;
  if (seated && sitT < 1) return false;
  if ((isLounging() || onCouch) && std::fmod(drinkPhase, 4.0f) > (onCouch ? 3.4f : 2.6f))
    return false;
  // The eased parts have come to rest.
  return std::fabs(bodyScale - bodyScaleTarget) < 0.002f &&
         std::fabs(microYawS) + std::fabs(microPitchS) < 0.01f &&
         std::fabs(jPos) + std::fabs(jVel) < 0.01f;
}

void RobotEntity::updateBubble(float dt) {
  if (chatterBubble == nullptr) return;
  bubbleT += dt;
  if (bubbleClosing) {
    const float scale = std::max(0.0f, 1 - bubbleT / 0.18f);
    chatterBubble->setScale(glm::vec3(std::max(0.001f, scale)));
    if (scale <= 0) {
      chatterBubble->removeFromParent();
      chatterBubble = nullptr;
      bubbleClosing = false;
    }
    return;
  }
  chatterBubble->setScale(glm::vec3(std::max(0.001f, easeOutBack(bubbleT / 0.28f))));
  chatterBubble->setPosition(glm::vec3(0, 42 + 0.9f * std::min(bubbleT, 3.5f), 12) * s);
}

void RobotEntity::updateBanner(float dt, bool exiting) {
  if (state == AgentState::waiting && !exiting && sitT > 0.6f) {
    if (permBanner == nullptr || bannerReason != waitReason) {
      if (permBanner != nullptr) permBanner->removeFromParent();
      permBanner = rig->addChild(makeWaitBanner(waitReason));
      bannerReason = waitReason;
      bannerT = 0;
    }
    permBanner->setEnabled(true);
    bannerT = std::min(1.0f, bannerT + 2 * dt);
    const float e = easeOutBack(bannerT);
    permBanner->setPosition(glm::vec3(0, 10 + 32 * e, 14) * s);
    permBanner->setScale(glm::vec3(std::max(0.001f, e)));
    return;
  }
  if (permBanner == nullptr) return;
  bannerT = std::max(0.0f, bannerT - dt / 0.3f);
  permBanner->setScale(glm::vec3(std::max(0.001f, bannerT * bannerT)));
  if (bannerT <= 0) {
    permBanner->removeFromParent();
    permBanner = nullptr;
    bannerReason.reset();
  }
}

void RobotEntity::poseBody(float dt, bool moved, float walked, bool exiting) {
  (void)walked;
  const float u = smoothstep((sitT - 0.5f) / 0.22f);
  const bool lounging = loungeBase.has_value();
  const bool onCouch = inCouchRoutine && couchPhase == 1;

  // Lean, bank, sway and height.
  const float leanGoal = state == AgentState::waiting    ? 0.0f
                         : stretchT > 0                  ? 0.32f - 0.14f * u
                         : state == AgentState::thinking ? 0.22f - 0.14f * u
                         : state == AgentState::done     ? 0.12f - 0.14f * u
                                                         : -0.14f * u;
  leanX = approach(leanX, leanGoal, kFaceRate, dt);
  const float yawStep =
      std::clamp(wrapAngle(yaw - prevYaw) / std::max(dt, 1e-4f) * 0.05f, -0.22f, 0.22f);
  bank = approach(bank, yawStep, 6, dt);
  prevYaw = yaw;
  float lift = -7 * u * s;  // into the chair
  if (hop > 0) lift += std::sin(hop * kPi) * 6 * s;
  if (!lounging) {
    const float bob = state == AgentState::idle ? 0.003f
                      : (state == AgentState::thinking || state == AgentState::working ||
                         state == AgentState::waiting)
                          ? 0.0045f
                          : 0.0f;
    lift += std::sin(bobPhase) * bob;
  }
  if (shape == BodyShape::drone) {
    // Drones float, a little higher while standing than when seated.
    lift += 0.02f + 0.045f * std::sin(bobPhase * 0.35f);
    lift += 0.05f * (1 - smoothstep((sitT - 0.62f) / 0.38f));
  }
  if (moved) lift += std::fabs(std::sin(walkPhase)) * 0.008f * (returning || exiting ? 1.5f : 1.0f);
  rig->setPosition({0, lift, 0});
  rig->setOrientation(about(yaw, {0, 1, 0}) * about(bank - jPos * 0.3f, {0, 0, 1}) *
                      about(leanX * 0.5f, {1, 0, 0}));

  // Scale: far, entrance and exit, hop squash.
  farLerp =
      approach(farLerp, (moved || lounging) ? 1.0f : 0.0f, (moved || lounging) ? 2.4f : 0.9f, dt);
  float routineScale = 1;
  if (entranceOrigin) {
    const glm::vec2 origin(*entranceOrigin);
    const glm::vec2 goal = buildTarget  ? glm::vec2(*buildTarget)
                           : loungeBase ? glm::vec2(*loungeBase)
                                        : glm::vec2(target);
    const float span = std::max(glm::distance(origin, goal), 1e-4f);
    const float t = glm::distance(origin, glm::vec2(root->position())) / span;
    routineScale = 0.24f + 0.76f * smoothstep(t);
    if (t >= 0.99f || (seated && sitT > 0.6f)) entranceOrigin.reset();
  }
  if (exitTarget) {
    const float t = glm::distance(glm::vec2(root->position()), glm::vec2(*exitTarget)) / exitDist0;
    routineScale = std::min(routineScale, 0.85f + 0.15f * smoothstep(t));
  }
  const float squash = 1 + 0.08f * std::sin(hop * kPi);
  const float overall = bodyScale * (1 - 0.34f * farLerp) * routineScale;
  root->setScale({overall / std::sqrt(squash), overall * squash, overall / std::sqrt(squash)});
  rig->setScale(glm::vec3(1 - std::pow(1 - assemble, 3.0f) * 0.6f));
  shadow->setScale(glm::vec3(1 - 0.45f * std::min(1.0f, std::max(0.0f, lift) / (10 * s))));

  // Head: micro-movements, chatter tilt, error droop, sleep and the wake-up shake.
  const float shake = wakeShakeT > 0 ? std::sin(wakeShakeT * 40) * 0.1f : 0;
  const float cheerLook = cheerT > 0 ? cheerLookYaw : 0;  // towards the peer being cheered
  glm::quat headPose = about(microYawS + shake + cheerLook, {0, 1, 0}) *
                       about(microPitchS - 0.35f * errAmt, {1, 0, 0}) *
                       about(chatterTiltAmt, {0, 0, 1});
  headPose = glm::slerp(headPose, about(-0.5f, {1, 0, 0}) * about(0.25f, {0, 0, 1}), asleepEase);
  head_->setOrientation(headPose);
  antennaPivot->setOrientation(about(-0.6f * errAmt, {1, 0, 0}));

  // Face: eyes and mouth towards the state's targets, blinking and gazing.
  FaceTarget face = faceFor(state);
  if (compactPose == CompactPose::asleep)
    face.eyeSX = 1.15f, face.eyeSY = 0.12f, face.mouthSX = 0.5f, face.mouthSY = 0.28f;
  eyeSX = approach(eyeSX, face.eyeSX, kFaceRate, dt);
  eyeSY = approach(eyeSY, face.eyeSY, kFaceRate, dt);
  eyeRot = approach(eyeRot, face.eyeRot, kFaceRate, dt);
  eyeOY = approach(eyeOY, face.eyeOY, kFaceRate, dt);
  mouthSX = approach(mouthSX, face.mouthSX, kFaceRate, dt);
  mouthSY = approach(mouthSY, face.mouthSY, kFaceRate, dt);
  mouthOY = approach(mouthOY, face.mouthOY, kFaceRate, dt);
  if (!settling) blinkT -= dt;
  if (blinkT <= 0 && blinkDur <= 0) {
    blinkDur = 0.13f;
    blinkT = uniform(2, 5.5f);
  }
  float blink = 1;
  if (blinkDur > 0) {
    blinkDur = std::max(0.0f, blinkDur - dt);
    blink = 1 - 0.92f * std::sin(kPi * (1 - blinkDur / 0.13f));
  }
  if (!settling) gazeTimer -= dt;
  if (gazeTimer <= 0) {
    const bool focused = state == AgentState::working || state == AgentState::waiting;
    gazeTX = (focused ? uniform(-0.4f, 0.4f) : uniform(-1.6f, 1.6f)) * s;
    gazeTY = (focused ? 0.3f : 1.0f) * s * uniform(-0.6f, 0.9f);
    gazeTimer = focused ? uniform(0.8f, 1.8f) : uniform(0.5f, 2.2f);
  }
  gazeX = approach(gazeX, gazeTX, 8, dt);
  gazeY = approach(gazeY, gazeTY, 8, dt);
  const float eyeY = (eyeBaseY_ - 8 + eyeOY) * s + gazeY;  // relative to the neck pivot
  leftEye->setPosition({gazeX - 5 * s, eyeY, 8.25f * s});
  rightEye->setPosition({gazeX + 5 * s, eyeY, 8.25f * s});
  leftEye->setOrientation(about(eyeRot, {0, 0, 1}));
  rightEye->setOrientation(about(-eyeRot, {0, 0, 1}));
  leftEye->setScale({eyeSX, std::max(0.05f, eyeSY * blink), 1});
  rightEye->setScale({eyeSX, std::max(0.05f, eyeSY * blink), 1});
  mouth->setPosition(glm::vec3(0, 15.8f - 8 + mouthOY, 8.3f) * s);
  mouth->setScale({mouthSX, mouthSY, 1});

  // Arms (first match).
  armLerp = approach(armLerp,
                     (state == AgentState::thinking || state == AgentState::working ||
                      state == AgentState::waiting)
                         ? 1.0f
                         : 0.0f,
                     6, dt);
  float leftX = 0, leftZ = 0, rightX = 0, rightZ = 0;
  bool mugShown = (lounging && stretchT <= 0) || onCouch;
  if (cheerT > 0) {
    leftZ = -2.6f, rightZ = 2.6f;
  } else if (waveT > 0 && !seated) {
    waveT = std::max(0.0f, waveT - dt);
    rightZ = 2.3f + 0.5f * std::fabs(std::sin(waveT * 9));
  } else if (doneSpinT > 0) {
    leftZ = -1.2f, rightZ = 1.2f;
  } else if (stretchT > 0 || surpriseT > 0) {
    leftZ = -2.8f, rightZ = 2.8f;
  } else if (mugShown) {
    // Whole drink cycles of 4 s; settling, a sip under way ends and no new one starts.
    const float sipFrom = onCouch ? 3.4f : 2.6f;
    if (!settling || std::fmod(drinkPhase, 4.0f) > sipFrom)
      drinkPhase = std::fmod(drinkPhase + dt, 4000.0f);
    const bool sip = std::fmod(drinkPhase, 4.0f) > sipFrom;
    rightX = clinkT > 0 ? -1.6f : toastT > 0 ? -2.4f : sip ? -1.9f : -0.9f;
  } else if (moved) {
    leftX = std::sin(walkPhase) * 0.6f, rightX = -std::sin(walkPhase) * 0.6f;
  } else if (state == AgentState::error) {
    leftX = 0.25f, rightX = 0.25f, leftZ = 0.15f, rightZ = -0.15f;
  } else if (state == AgentState::waiting || state == AgentState::idle ||
             state == AgentState::done) {
    leftX = std::sin(bobPhase) * 0.06f, rightX = -std::sin(bobPhase) * 0.06f;
  } else if (onPhone) {
    toolPhase = std::fmod(toolPhase + 10 * dt, 2 * kPi);
    rightX = -2.2f * armLerp, rightZ = 0.9f * armLerp;
    leftX = (-0.9f + 0.15f * std::sin(toolPhase)) * armLerp;
  } else {
    thinkBeatT -= dt;
    if (thinkBeatT <= 0 && thinkBeatDur <= 0) {
      thinkBeatT = uniform(4.9f, 7.9f);
      thinkBeatDur = 0.9f;
    }
    if (thinkBeatDur > 0) {
      thinkBeatDur = std::max(0.0f, thinkBeatDur - dt);
      rightX = -2.4f * armLerp, rightZ = 0.6f * armLerp;  // hand to chin
      leftX = -1.0f * armLerp;
    } else {
      toolPhase = std::fmod(toolPhase + 13 * dt, 2 * kPi);
      const float flourish = microKind == 2 && microDur > 0 ? 0.2f * std::sin(6 * microDur) : 0;
      leftX = (-1.1f + 0.12f * std::sin(toolPhase) + flourish) * armLerp;
      rightX = (-1.1f - 0.12f * std::sin(toolPhase) - flourish) * armLerp;
    }
  }
  coffeeMug->setEnabled(mugShown);
  leftArm->setOrientation(about(leftX, {1, 0, 0}) * about(leftZ, {0, 0, 1}));
  rightArm->setOrientation(about(rightX, {1, 0, 0}) * about(rightZ, {0, 0, 1}));

  // Legs: a walk cycle, or forward into the chair, with a seated fidget per role.
  if (legLPivot != nullptr) {
    float fidget = 0;
    if (seated && sitT > 0.7f && cheerT <= 0 && !exiting) {
      footTapT = std::fmod(footTapT + dt, 2 * kPi);
      fidget = 0.12f * std::sin(footTapT * (4 + static_cast<float>(role)));
    }
    const float swing = std::sin(walkPhase) * 0.7f * legLerp;
    legLPivot->setOrientation(about(swing - 1.35f * u + fidget, {1, 0, 0}));
    legRPivot->setOrientation(about(-swing - 1.35f * u - fidget * 0.5f, {1, 0, 0}));
  }
}

}  // namespace tallyloft
