#include "graph/Entity.h"

#include <gtest/gtest.h>

#include <glm/gtc/quaternion.hpp>

#include "graph/Scene.h"

namespace tallyloft {
namespace {

constexpr float kEps = 1e-4f;

void expectNear(glm::vec3 actual, glm::vec3 expected) {
  EXPECT_NEAR(actual.x, expected.x, kEps);
  EXPECT_NEAR(actual.y, expected.y, kEps);
  EXPECT_NEAR(actual.z, expected.z, kEps);
}

glm::quat about(float degrees, glm::vec3 axis) {
  return glm::angleAxis(glm::radians(degrees), axis);
}

// A parent turned a quarter about Z and scaled by 2, at (1, 2, 0), with a child at (1, 0, 0).
struct Rig {
  Entity root;
  Entity* parent;
  Entity* child;
  Entity* other;
  Rig() {
    parent = root.addChild(std::make_unique<Entity>());
    parent->setPosition({1, 2, 0});
    parent->setOrientation(about(90, {0, 0, 1}));
    parent->setScale(glm::vec3(2));
    child = parent->addChild(std::make_unique<Entity>());
    child->setPosition({1, 0, 0});
    other = root.addChild(std::make_unique<Entity>());
    other->setPosition({0, 4, 0});
  }
};

TEST(Entity, RelativeTransforms) {
  Rig rig;
  expectNear(rig.child->position(nullptr), {1, 4, 0});
  expectNear(rig.child->position(rig.other), {1, 0, 0});
  expectNear(rig.child->scale(nullptr), glm::vec3(2));
  expectNear(rig.child->orientation(nullptr) * glm::vec3(1, 0, 0), {0, 1, 0});

  rig.child->setPosition({0, 0, 0}, nullptr);  // to the world's origin
  expectNear(rig.child->position(nullptr), {0, 0, 0});
  expectNear(rig.child->position(), {-1, 0.5f, 0});  // in the parent's turned, doubled space
  rig.child->setOrientation(glm::quat(1, 0, 0, 0), nullptr);
  expectNear(rig.child->orientation(nullptr) * glm::vec3(1, 0, 0), {1, 0, 0});
  rig.child->setScale(glm::vec3(1), nullptr);
  expectNear(rig.child->scale(), glm::vec3(0.5f));
}

TEST(Entity, LookPointsMinusZAtTheTarget) {
  Rig rig;
  rig.child->look({0, 0, 0}, {5, 0, 0}, {0, 1, 0}, nullptr);
  expectNear(rig.child->position(nullptr), {5, 0, 0});
  const glm::quat world = rig.child->orientation(nullptr);
  expectNear(world * glm::vec3(0, 0, -1), {-1, 0, 0});
  expectNear(world * glm::vec3(0, 1, 0), {0, 1, 0});
  // Given in another entity's space.
  rig.child->look({0, 0, 0}, {0, 0, 3}, {0, 1, 0}, rig.other);
  expectNear(rig.child->position(nullptr), {0, 4, 3});
  expectNear(rig.child->orientation(nullptr) * glm::vec3(0, 0, -1), {0, 0, -1});
}

TEST(Entity, BoundsOfRotatedScaledSubtrees) {
  Entity root;
  auto* group = root.addChild(std::make_unique<Entity>());
  group->setScale({3, 1, 1});
  group->setPosition({10, 0, 0});
  auto* bar = group->addChild(ModelEntity::make(generateBox({2, 1, 1}), LitMaterial{}));
  bar->setOrientation(about(90, {0, 0, 1}));  // now 1 wide, 2 tall, then tripled in x
  const BoundingBox bounds = root.visualBounds(true, nullptr);
  expectNear(bounds.center(), {10, 0, 0});
  expectNear(bounds.extents(), {1.5f, 1, 0.5f});

  auto* ball = group->addChild(ModelEntity::make(generateSphere(1), LitMaterial{}));
  ball->setPosition({0, 5, 0});
  expectNear(root.visualBounds(true, nullptr).max, {13, 6, 1});
  expectNear(root.visualBounds(false, nullptr).extents(), {0, 0, 0});  // the root has no mesh
  expectNear(bar->visualBounds(true, group).extents(), {0.5f, 1, 0.5f});

  ball->setEnabled(false);
  expectNear(root.visualBounds(true, nullptr).max, {11.5f, 1, 0.5f});
  expectNear(root.visualBounds(true, nullptr, false).max, {13, 6, 1});
  EXPECT_TRUE(ball->visualBounds().isEmpty());
}

TEST(Entity, EnabledOpacityAndOwnership) {
  Entity root;
  auto* parent = root.addChild(std::make_unique<Entity>());
  auto* child = parent->addChild(std::make_unique<Entity>());
  parent->setOpacity(0.5f);
  child->setOpacity(0.4f);
  EXPECT_FLOAT_EQ(child->effectiveOpacity(), 0.2f);
  child->setOpacity(3);
  EXPECT_FLOAT_EQ(child->opacity(), 1);
  parent->setEnabled(false);
  EXPECT_TRUE(child->isEnabled());
  EXPECT_FALSE(child->isEnabledInHierarchy());

  std::unique_ptr<Entity> taken = parent->removeFromParent();
  EXPECT_EQ(taken.get(), parent);
  EXPECT_EQ(parent->parent(), nullptr);
  EXPECT_TRUE(root.children().empty());
  EXPECT_EQ(child->parent(), parent);
  EXPECT_EQ(root.removeFromParent(), nullptr);
}

TEST(Entity, MovesAlongTheirCurves) {
  EXPECT_FLOAT_EQ(timingCurve(TimingFunction::linear, 0.25f), 0.25f);
  EXPECT_FLOAT_EQ(timingCurve(TimingFunction::easeOut, 0.5f), 0.875f);
  EXPECT_FLOAT_EQ(timingCurve(TimingFunction::easeInOut, 0.25f), 0.0625f);
  EXPECT_FLOAT_EQ(timingCurve(TimingFunction::easeInOut, 0.5f), 0.5f);
  EXPECT_FLOAT_EQ(timingCurve(TimingFunction::easeOut, 2), 1);

  Scene scene;
  Entity* anchor = scene.addAnchor({100, 0, 0});
  auto* mover = anchor->addChild(std::make_unique<Entity>());
  std::vector<float> seen;
  const auto id = scene.subscribeUpdate([&](double) { seen.push_back(mover->position().x); });
  Transform target;
  target.translation = {104, 0, 0};  // world space: 4 to the right of the anchor
  target.scale = glm::vec3(3);
  mover->move(target, nullptr, 2, TimingFunction::linear);
  scene.update(0.5);
  scene.update(0.5);
  EXPECT_EQ(seen, (std::vector<float>{1, 2}));  // the update sees the advanced move
  scene.update(5);
  expectNear(mover->position(), {4, 0, 0});
  expectNear(mover->scale(), glm::vec3(3));
  EXPECT_FALSE(mover->isMoving());

  target.translation = {100, 0, 0};
  mover->move(target, nullptr, 1, TimingFunction::easeOut);
  scene.update(0.5);
  EXPECT_NEAR(mover->position().x, 4 - 4 * 0.875f, kEps);
  mover->move(target, anchor, 0, TimingFunction::linear);  // replaces the running move, at once
  expectNear(mover->position(nullptr), {200, 0, 0});
  EXPECT_FALSE(mover->isMoving());
  scene.unsubscribeUpdate(id);
  scene.update(1);
  EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
}  // namespace tallyloft
