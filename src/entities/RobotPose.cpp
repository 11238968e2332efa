// The robot's pose each frame: its speech bubble, its waiting sign, and body, head, face, arms
// and legs posed from its state.
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

}  // namespace

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
