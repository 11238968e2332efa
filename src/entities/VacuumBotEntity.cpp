#include "entities/VacuumBotEntity.h"

#include "graph/Motion.h"

#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>

namespace tallyloft {
namespace {}  // namespace

VacuumBotEntity::VacuumBotEntity(float worldScale) : s(worldScale) {
  root->name = "vacuum-bot";
  rig = root->addChild(std::make_unique<Entity>());
  const auto add = [this](Entity& parent, MeshDescriptor mesh, Material material, glm::vec3 at) {
    return addModel(parent, std::move(mesh), std::move(material), at * s);
  };
  const auto box = [this](glm::vec3 size, float radius = 0) {
    return generateBox(size * s, radius * s);
  };
  const LitMaterial shell{{0.93f, 0.9f, 0.82f, 1}, 0.4f, false};
  const LitMaterial trim{{0.98f, 0.62f, 0.2f, 1}, 0.5f, false};
  const LitMaterial base{{0.35f, 0.38f, 0.44f, 1}, 0.5f, true};

  // Body, face, wheels and the floor shadow.
  add(*rig, box({20.6f, 16.4f, 14}, 4), shell, {0, 0, 0});
  add(*rig, box({21, 3, 14.4f}, 1.4f), trim, {0, -5.5f, 0});
  add(*rig, box({15, 8, 0.6f}, 2), unlit(grey(0.08f)), {0, 2, 7.1f});
  add(*rig, generatePlane(2.4f * s, 2.8f * s, 1.2f * s), unlit({0.65f, 0.95f, 1.0f, 1}),
      {-3.4f, 2.4f, 7.45f});
  add(*rig, generatePlane(2.4f * s, 2.8f * s, 1.2f * s), unlit({0.65f, 0.95f, 1.0f, 1}),
      {3.4f, 2.4f, 7.45f});
  for (float side : {-1.0f, 1.0f}) add(*rig, generateSphere(3 * s), base, {side * 8, -9, 0});
  auto* shadow = add(*root, generateHorizontalPlane(26 * s, 14 * s, 7 * s), unlit(palette::black),
                     {0, -12.5f, 0});
  shadow->setOpacity(0.26f);

  // The arm, raised until it works.
  armPivot = rig->addChild(std::make_unique<Entity>());
  armPivot->setPosition(glm::vec3(10.5f, 2, 0) * s);
  add(*armPivot, box({2.4f, 10, 2.4f}, 1), base, {0, -5, 0});
  hand = add(*armPivot, generateSphere(1.8f * s), trim, {0, -10.5f, 0});

  // The canister vacuum beside the robot, with its hose and nozzle; stowed until deployed.
  vacBase = glm::vec3(-24, -8, 5) * s;
  vacRoot = root->addChild(std::make_unique<Entity>());
  vacRoot->setPosition(vacBase);
  add(*vacRoot, box({11, 7.5f, 8}, 3), LitMaterial{palette::red, 0.35f, false}, {0, 0, 0});
  for (float side : {-1.0f, 1.0f}) add(*vacRoot, generateSphere(1.6f * s), base, {side * 4, -4, 3});
  canisterLamp = add(*vacRoot, generateSphere(1.1f * s), unlit(palette::green), {3, 4, 3});
  nozzleRoot = vacRoot->addChild(std::make_unique<Entity>());
  nozzleRoot->setPosition(glm::vec3(-5, 0, 2) * s);
  auto* hose = add(*nozzleRoot, box({9, 1.4f, 1.4f}, 0.6f), LitMaterial{grey(0.2f), 0.6f, false},
                   {-4.5f, -1.5f, 0});
  hose->setOrientation(about(0.35f, {0, 0, 1}));
  nozzleHead = nozzleRoot->addChild(std::make_unique<Entity>());
  nozzleHead->setPosition(glm::vec3(-9.5f, -4, 0) * s);
  add(*nozzleHead, box({4, 1.6f, 3}, 0.6f), LitMaterial{grey(0.3f), 0.5f, true}, {0, 0, 0});
  mouthMarker = nozzleHead->addChild(std::make_unique<Entity>());
  mouthMarker->setPosition(glm::vec3(-2.4f, -0.4f, 0) * s);
  suctionCone =
      add(*nozzleHead, generateCone(6 * s, 3 * s), unlit({0.8f, 0.9f, 1.0f, 1}), {-5, 0, 0});
  suctionCone->setOrientation(about(3.14159f / 2, {0, 0, 1}));  // opening towards the clutter
  suctionCone->setOpacity(0.1f);
  vacRoot->setEnabled(false);
  canisterLamp->setEnabled(false);
  suctionCone->setEnabled(false);
}

void VacuumBotEntity::moveTo(glm::vec3 point, std::optional<float> facing) {
  if (target && glm::distance(*target, point) < 0.02f * s && faceX == facing && !leaving) return;
  target = point;
  faceX = facing;
  leaving = false;
  arrived = false;
}

void VacuumBotEntity::startVacuum() {
  if (deployT < 0) {
    deployT = 0;
    stowing = false;
    vacRoot->setEnabled(true);
  } else if (stowing) {
    stowing = false;  // resume from where the stow got to
  }
}

void VacuumBotEntity::stowVacuum() {
  if (deployT < 0 || stowing) return;
  stowing = true;
  vacuumOn = false;
  canisterLamp->setEnabled(false);
  suctionCone->setEnabled(false);
}

void VacuumBotEntity::tick(float dt) {
  bob = std::fmod(bob + 6 * dt, 2 * 3.14159265f);
  rig->setPosition({0, 0.004f * std::sin(bob), 0});

  glm::vec3 at = root->position();
  if (target && !arrived) {
    const glm::vec2 offset = glm::vec2(*target) - glm::vec2(at);
    const float distance = glm::length(offset);
    at.z = approach(at.z, target->z, 4, dt);
    if (distance < 0.02f) {
      arrived = true;
      if (leaving) isDone = true;
    } else {
      const glm::vec2 direction = offset / distance;
      const float step = std::min(distance, speed * dt);
      at.x += direction.x * step;
      at.y += direction.y * step;
      yaw = approach(yaw, std::atan2(direction.x, 0.6f), 8, dt);
    }
    root->setPosition(at);
  } else if (faceX) {
    yaw = approach(yaw, std::atan2(*faceX - at.x, 0.6f), 6, dt);
  }
  root->setOrientation(about(yaw, {0, 1, 0}));

  const bool working = arrived && !leaving;
  armAngle = working ? -0.05f + 0.05f * std::sin(bob) : -1.2f;
  armPivot->setOrientation(about(armAngle, {0, 0, 1}));

  // The canister's scale: the deploy or stow curve, times the swell of a gulp.
  float canister = deployT >= 1 ? 1.0f : 0.001f;
  if (deployT >= 0) {
    if (stowing) {
      deployT = std::max(0.0f, deployT - dt / 0.3f);
      canister = std::max(0.001f, deployT);
      nozzleRoot->setScale(glm::vec3(std::max(0.001f, deployT)));
      if (deployT <= 0) {
        deployT = -1;
        stowing = false;
        vacRoot->setEnabled(false);
        vacRoot->setPosition(vacBase);
      }
    } else if (deployT < 1) {
      deployT = std::min(1.0f, deployT + dt / 0.55f);
      const float u = deployT - 1;
      canister = std::max(0.001f, 1 + 2.7f * u * u * u + 1.7f * u * u);
      nozzleRoot->setScale(glm::vec3(std::clamp(1.4f * deployT, 0.001f, 1.0f)));
      if (deployT >= 1) {
        vacuumOn = true;
        canisterLamp->setEnabled(true);
        suctionCone->setEnabled(true);
      }
    }
  }
  if (vacuumOn) {
    rumble = std::fmod(rumble + 30 * dt, 200 * 3.14159265f);
    vacRoot->setPosition(vacBase + glm::vec3(0.28f * s * std::sin(rumble),
                                             0.38f * s * std::fabs(std::sin(1.63f * rumble)), 0));
    const float breath = 1 + 0.1f * std::sin(0.55f * rumble);
    suctionCone->setScale({breath, 1, breath});
    suctionCone->setOpacity(0.07f + 0.04f * std::sin(0.9f * rumble));
  }
  if (gulpT > 0) gulpT = std::max(0.0f, gulpT - 5 * dt);
  vacRoot->setScale(glm::vec3(canister * (1 + 0.3f * gulpT)));
  nozzleHead->setScale(glm::vec3(vacuumOn ? 1 + 0.055f * gulpT : 1.0f));
}

}  // namespace tallyloft
