// The desk's screen savers: a bouncing logo or buddy, drifting text, and a game of pong.
#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>

#include "entities/DeskEntity.h"
#include "graph/Motion.h"
#include "graph/TextEntity.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;

}  // namespace

void DeskEntity::tickBouncer(float dt) {
  if (saverMode == 1 && saverText == nullptr) swapSaverText();
  ssPulseT = std::fmod(ssPulseT + 3 * dt, 2 * kPi);
  ssX += ssVX * dt;
  ssY += ssVY * dt;
  bool bounced = false;
  if (std::fabs(ssX) > ssHalfX) {
    ssX = std::copysign(ssHalfX, ssX);
    ssVX = -std::copysign(std::fabs(ssVX), ssX);
    bounced = true;
  }
  if (std::fabs(ssY) > ssHalfY) {
    ssY = std::copysign(ssHalfY, ssY);
    ssVY = -std::copysign(std::fabs(ssVY), ssY);
    bounced = true;
  }
  Entity* item = saverMode == 0 ? buddy : saverMode == 1 ? saverText : logoNode;
  if (item != nullptr) item->setPosition({ssX, ssY, 0.08f * s});
  if (bounced) {
    ssColorIdx = (ssColorIdx + 1) % 7;
    if (saverMode == 3) {
      logoNode->setOrientation(
          glm::angleAxis(static_cast<float>(ssColorIdx % 4) * 0.18f - 0.27f, glm::vec3(0, 0, 1)));
    } else if (saverMode == 1) {
      swapSaverText();
      saverText->setPosition({ssX, ssY, 0.08f * s});
    } else {
      buddyBody->materials[0] = unlit(ssColors()[static_cast<std::size_t>(ssColorIdx)]);
      ++materialRebuilds;
      buddyEyeL->setScale({1, 0.2f, 1});
      buddyEyeR->setScale({1, 0.2f, 1});
    }
  }
  if (saverMode == 0) {
    buddy->setScale(glm::vec3(0.95f + 0.06f * std::sin(ssPulseT)));
    for (ModelEntity* eye : {buddyEyeL, buddyEyeR}) {
      eye->setScale({1, approach(eye->scale().y, 1, 6, dt), 1});
    }
  }
}

void DeskEntity::swapSaverText() {
  saverTextIdx = (saverTextIdx + 1) % 6;
  if (saverText != nullptr) saverText->removeFromParent();
  saverText = saverRoot->addChild(centredText(saverMsgs()[static_cast<std::size_t>(saverTextIdx)],
                                              {3 * s, 600, false}, std::max(0.0006f, 0.06f * s),
                                              ssColors()[static_cast<std::size_t>(ssColorIdx)],
                                              glm::vec3(0)));
  saverText->setEnabled(saverMode == 1);
}

void DeskEntity::tickPong(float dt) {
  const float paddleX = 9.2f * s;
  if (serveT > 0) {
    serveT -= dt;
    if (serveT <= 0) {
      pbx = 0;
      pby = uniform(-2, 2) * s;
      const float angle = uniform(-0.6f, 0.6f);
      const float side = std::uniform_int_distribution<int>(0, 1)(*random_) == 0 ? -1.0f : 1.0f;
      pbvx = side * std::cos(angle) * 7 * s;
      pbvy = std::sin(angle) * 7 * s;
    }
  } else {
    pbx += pbvx * dt;
    pby += pbvy * dt;
    if (std::fabs(pby) > ssHalfY) {
      pby = std::copysign(ssHalfY, pby);
      pbvy = -pbvy;
    }
    for (ModelEntity* pad : {padL, padR}) {
      const float x = pad == padL ? -paddleX : paddleX;
      const bool reaching = (x < 0 && pbx <= x && pbvx < 0) || (x > 0 && pbx >= x && pbvx > 0);
      if (reaching && std::fabs(pby - pad->position().y) < 2.1f * s) {
        pbx = x;
        pbvx = -pbvx;
      }
    }
    if (std::fabs(pbx) > ssHalfX + 1.2f * s) {  // a miss
      pongMissT = uniform(4, 8);
      serveT = 0.7f;
    }
  }
  pongMissT = std::max(0.0f, pongMissT - dt);
  const float limit = ssHalfY - 1.5f * s;
  for (ModelEntity* pad : {padL, padR}) {
    const bool towards = pad == padL ? pbvx < 0 : pbvx > 0;
    const float rate = pongMissT > 0 || !towards ? 5.0f : 0.7f;
    glm::vec3 at = pad->position();
    at.y = approach(at.y, std::clamp(pby, -limit, limit), rate, dt);
    pad->setPosition(at);
  }
  pongBall->setPosition({pbx, pby, 0});
}

}  // namespace tallyloft
