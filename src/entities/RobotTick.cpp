// The robot's frame: what it does each tick (gestures, chatter, the couch routine, walking,
// sitting, sparks), and whether it has come to rest.
#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>

#include "entities/RobotEntity.h"
#include "graph/Motion.h"

namespace tallyloft {

namespace {

constexpr float kPi = 3.14159265f;

}  // namespace

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

}  // namespace tallyloft
