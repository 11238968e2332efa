#include "entities/RobotEntity.h"

#include <gtest/gtest.h>

#include <functional>

namespace tallyloft {
namespace {

AgentNode agentOf(const std::string& type, bool isMain = false) {
  return AgentNode::make(isMain ? "main:s" : "a1", type, isMain, {});
}

bool anyEntity(const Entity& entity, const std::function<bool(const Entity&)>& test) {
  if (test(entity)) return true;
  for (const auto& child : entity.children()) {
    if (anyEntity(*child, test)) return true;
  }
  return false;
}

TEST(RobotEntity, AppearanceFollowsTheTypeInAnyCase) {
  struct Case {
    const char* type;
    BodyShape shape;
    Role role;
    Color color;
  };
  const Case cases[] = {
      {"Code-Reviewer", BodyShape::humanoid, Role::review, palette::red},
      {"test-runner", BodyShape::tank, Role::test, palette::purple},
      {"Explore", BodyShape::drone, Role::explore, palette::blue},
      {"deep-research", BodyShape::drone, Role::explore, RobotEntity::typeColor("deep-research")},
      {"builder", BodyShape::tank, Role::build, palette::green},
      {"Plan", BodyShape::humanoid, Role::plan, palette::orange},
      {"general-purpose", BodyShape::humanoid, Role::general, palette::teal},
      {"security-auditor", BodyShape::humanoid, Role::review, palette::red},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(RobotEntity::shapeFor(c.type, false), c.shape);
    EXPECT_EQ(RobotEntity::roleFor(c.type, false), c.role);
    EXPECT_EQ(RobotEntity::typeColor(c.type), c.color);
  }
  EXPECT_EQ(RobotEntity::shapeFor("Explore", true), BodyShape::humanoid);
  EXPECT_EQ(RobotEntity::roleFor("builder", true), Role::other);
  // Unlisted types get a stable hue of their own; an empty type gets 43 degrees.
  EXPECT_EQ(RobotEntity::typeColor("data-wrangler"), RobotEntity::typeColor("data-wrangler"));
  EXPECT_NE(RobotEntity::typeColor("data-wrangler"), RobotEntity::typeColor("data-wranglers"));
  const Color empty = RobotEntity::typeColor("");
  EXPECT_NEAR(empty.r, 0.9f, 1e-4);         // hue 43: red is the largest channel
  EXPECT_NEAR(empty.b, 0.9f * 0.4f, 1e-4);  // blue the smallest
  EXPECT_NEAR(empty.g, 0.36f + 0.54f * 43 / 60, 1e-3);
  EXPECT_EQ(RobotEntity::roleEmoji(Role::review), "\U0001F575\uFE0F");
}

TEST(RobotEntity, MainAgentsCarryNoGearAndDecorativeOnesAreDarker) {
  std::mt19937 random(1);
  RobotEntity main(agentOf("Explore", true), 0.01f, false, random);
  RobotEntity sub(agentOf("Explore"), 0.01f, false, random);
  RobotEntity extra(agentOf("main", true), 0.01f, true, random);
  const auto hasBadge = [](const Entity& e) { return e.name == "badge"; };
  EXPECT_FALSE(anyEntity(*main.root, hasBadge));
  EXPECT_TRUE(anyEntity(*sub.root, hasBadge));
  EXPECT_GT(sub.rig->children().size(), main.rig->children().size());
  EXPECT_EQ(main.shape, BodyShape::humanoid);
  EXPECT_NE(main.legLPivot, nullptr);
  EXPECT_EQ(sub.legLPivot, nullptr);  // a drone hovers
  EXPECT_EQ(std::get<LitMaterial>(extra.body->materials[0]).color, (Color{0.58f, 0.58f, 0.58f, 1}));
  EXPECT_EQ(std::get<LitMaterial>(extra.head->materials[0]).color, (Color{0.66f, 0.66f, 0.66f, 1}));
  EXPECT_EQ(extra.carryBlock, nullptr);
  ASSERT_NE(main.carryBlock, nullptr);
  EXPECT_FALSE(main.carryBlock->isEnabled());
  EXPECT_FALSE(main.coffeeMug->isEnabled());
  EXPECT_EQ(std::get<UnlitMaterial>(main.bulb->materials[0]).color, palette::blue);  // thinking
  EXPECT_EQ(RobotEntity::emojiTexture("\U0001F916"), RobotEntity::emojiTexture("\U0001F916"));
}

TEST(RobotEntity, TintAndScale) {
  std::mt19937 random(1);
  RobotEntity robot(agentOf("Plan"), 0.01f, false, random);
  robot.setScale(0.2f);
  EXPECT_EQ(robot.bodyScaleTarget, 0.5f);
  robot.setScale(1.3f);
  EXPECT_EQ(robot.bodyScaleTarget, 1.3f);

  robot.setBodyTint(palette::orange);
  const auto& tinted = std::get<LitMaterial>(robot.body->materials[0]);
  EXPECT_NEAR(tinted.color.r, 0.629f + 0.15f * palette::orange.r, 1e-5);
  EXPECT_TRUE(tinted.metallic);
  robot.body->materials = {UnlitMaterial{palette::pink, nullptr, std::nullopt}};  // a marker
  robot.setBodyTint(palette::orange);  // unchanged: no material is replaced
  EXPECT_TRUE(std::holds_alternative<UnlitMaterial>(robot.body->materials[0]));
}

TEST(RobotEntity, MirrorsTheAgentWithHoldsAndOneBurstPerNewState) {
  std::mt19937 random(1);
  AgentNode agent = agentOf("builder");
  RobotEntity robot(agent, 0.01f, false, random);
  const std::size_t spawn = robot.particles.size();
  EXPECT_EQ(spawn, 10u);  // the teal sparkle of a new robot

  agent.state = AgentState::working;
  agent.currentTool = ToolKind::phone;
  robot.update(agent);
  EXPECT_TRUE(robot.onPhone);
  EXPECT_EQ(robot.displayedColor, AgentState::working);
  agent.state = AgentState::thinking;
  agent.currentTool.reset();
  robot.update(agent);
  EXPECT_FLOAT_EQ(robot.colorHold, 0.9f);  // keeps the working colour a moment
  EXPECT_EQ(robot.displayedColor, AgentState::working);
  EXPECT_FALSE(robot.onPhone);
  agent.state = AgentState::waiting;
  robot.update(agent);
  EXPECT_EQ(robot.colorHold, 0);  // waiting shows at once
  EXPECT_EQ(robot.displayedColor, AgentState::waiting);

  const auto particlesAfter = [&](AgentState state) {
    agent.state = state;
    robot.update(agent);
    return robot.particles.size();
  };
  std::size_t count = robot.particles.size();
  EXPECT_EQ(particlesAfter(AgentState::done), count + 35);  // confetti
  EXPECT_FLOAT_EQ(robot.stretchT, 2.1f);
  count = robot.particles.size();
  EXPECT_EQ(particlesAfter(AgentState::done), count);  // unchanged: nothing
  EXPECT_EQ(particlesAfter(AgentState::working), count);
  EXPECT_EQ(particlesAfter(AgentState::done), count + 35);       // done again after working: again
  EXPECT_EQ(particlesAfter(AgentState::error), count + 35 + 8);  // smoke
}

TEST(RobotEntity, ParticlesFadeAndAreCapped) {
  std::mt19937 random(1);
  RobotEntity robot(agentOf("Plan"), 0.01f, false, random);
  for (int i = 0; i < 4; ++i) robot.burst(BurstKind::confetti, palette::green);
  EXPECT_EQ(robot.particles.size(), RobotEntity::kMaxParticles);  // 10 + 140, oldest dropped
  EXPECT_FLOAT_EQ(robot.particles.front().maxLife, 1.2f);         // the sparkle went first
  const auto shown = [&] {
    std::size_t count = 0;
    for (const auto& child : robot.root->children()) count += child->isEnabled();
    return count;
  };
  EXPECT_EQ(shown(), RobotEntity::kMaxParticles + 2);  // the particles, the rig and the shadow
  EXPECT_EQ(robot.root->children().size(),
            RobotEntity::kMaxParticles + 2);  // retired ones are reused

  robot.advanceParticles(0.6f);
  EXPECT_NEAR(robot.particles.front().e->opacity(), 0.5f, 1e-4);
  robot.advanceParticles(0.7f);
  EXPECT_TRUE(robot.particles.empty());
  EXPECT_EQ(shown(), 2u);  // the rig and the shadow; the sparks wait for reuse
}

// A robot seated at its desk in a small room, run at 60 frames a second.
struct Seated {
  std::mt19937 random{3};
  AgentNode agent = agentOf("Plan");
  RobotEntity robot{agent, 0.01f, false, random};
  Seated() {
    robot.setTerritory(-0.5f, 0.5f, -0.1f, 0.1f);
    robot.placeAt(0, 0, 0);
    robot.setBuildTarget(glm::vec3(0), std::nullopt);
    robot.setSeated(true, 0);
    run(2);
  }
  void run(float seconds) {
    for (float t = 0; t < seconds; t += 1.0f / 60) robot.tick(1.0f / 60);
  }
  void become(AgentState state, WaitReason reason = WaitReason::permission) {
    agent.state = state;
    agent.waitReason = reason;
    robot.update(agent);
  }
};

TEST(RobotBehavior, FaceColourFollowsAfterTheHold) {
  Seated seated;
  seated.become(AgentState::working);
  seated.become(AgentState::thinking);
  seated.run(0.8f);
  EXPECT_EQ(seated.robot.displayedColor, AgentState::working);
  seated.run(0.2f);
  EXPECT_EQ(seated.robot.displayedColor, AgentState::thinking);
}

TEST(RobotBehavior, WaitBannerIsBuiltSeatedAndRebuiltOnANewReason) {
  Seated seated;
  EXPECT_GT(seated.robot.sitT, 0.6f);
  seated.become(AgentState::waiting);
  seated.run(0.1f);
  ASSERT_NE(seated.robot.permBanner, nullptr);
  EXPECT_EQ(seated.robot.permBanner->name, "banner:permission");
  seated.become(AgentState::waiting, WaitReason::question);
  seated.run(0.1f);
  std::size_t banners = 0;
  for (const auto& child : seated.robot.rig->children())
    banners += child->name.rfind("banner:", 0) == 0;
  EXPECT_EQ(banners, 1u);  // replaced, not stacked
  EXPECT_EQ(seated.robot.permBanner->name, "banner:question");
  seated.become(AgentState::thinking);
  seated.run(0.4f);
  EXPECT_EQ(seated.robot.permBanner, nullptr);
}

TEST(RobotBehavior, CompactionPoses) {
  Seated seated;
  RobotEntity& robot = seated.robot;
  robot.clearCompactPose();  // nothing active: nothing changes
  EXPECT_EQ(robot.stretchT, 0);
  const std::pair<float, int> lit[] = {{0.5f, 2}, {0.625f, 3}, {-1, 0}, {2, 4}, {0.1f, 0}};
  for (const auto& [progress, bars] : lit) {
    robot.poseReceiving(progress);
    EXPECT_EQ(robot.lastLit, bars) << progress;
  }
  ASSERT_EQ(robot.dlBars.size(), 4u);
  for (int frame = 0; frame < 60; ++frame) {
    robot.poseAsleep();
    robot.tick(1.0f / 60);
  }
  EXPECT_EQ(robot.compactPose, CompactPose::asleep);
  EXPECT_FALSE(robot.dlBars[0]->isEnabled());
  robot.clearCompactPose();  // after a long sleep: a shake and a stretch
  EXPECT_FLOAT_EQ(robot.wakeShakeT, 0.7f);
  EXPECT_GE(robot.stretchT, 0.9f);
  EXPECT_EQ(robot.compactPose, CompactPose::none);
  EXPECT_EQ(std::get<UnlitMaterial>(robot.leftEye->materials[0]).color,
            RobotEntity::stateColor(robot.state));
}

TEST(RobotBehavior, SpawnHoldExitAndPoof) {
  std::mt19937 random(5);
  RobotEntity robot(agentOf("builder"), 0.01f, false, random);
  robot.setTerritory(-1, 1, -0.1f, 0.1f);
  robot.placeAt(0.2f, 0, 0);
  robot.setSpawnHold(0.5f);
  for (int frame = 0; frame < 20; ++frame) robot.tick(1.0f / 60);
  EXPECT_FLOAT_EQ(robot.rig->scale().x, 0.0001f);            // hidden
  EXPECT_EQ(robot.root->position(), glm::vec3(0.2f, 0, 0));  // and inert

  robot.setExit({0.2f, 0, 0}, 0);  // already at the door
  EXPECT_FLOAT_EQ(robot.exitDist0, 0.05f);
  robot.setExit({0.7f, 0, 0}, 0.3f);
  float seconds = 0;
  while (!robot.poofing && seconds < 10) {
    robot.tick(1.0f / 60);
    seconds += 1.0f / 60;
  }
  ASSERT_TRUE(robot.poofing);  // walked, paused, waved, went through and poofed
  EXPECT_NEAR(robot.root->position().x, 0.7f, 0.03f);  // into the doorway
  float poofing = 0;
  while (robot.poof > 0) {
    robot.tick(1.0f / 60);
    poofing += 1.0f / 60;
  }
  EXPECT_NEAR(poofing, 0.29f, 0.02f);

  RobotEntity stranded(agentOf("Plan"), 0.01f, false, random);  // no room at all
  stranded.setExit({1, 0, 0}, 0);
  stranded.tick(1.0f / 60);
  EXPECT_TRUE(stranded.poofing);
}

// The receiver is held to the ear, beside the head, and the mouth is as tall as its scale says.
TEST(RobotBehavior, PhoneAtTheEarAndMouthToScale) {
  std::mt19937 random(3);
  Entity scene;
  AgentNode agent = AgentNode::make("a", "main", true, {});
  RobotEntity robot(agent, 0.01f, false, random);
  robot.attachTo(scene);
  agent.state = AgentState::working;
  agent.currentTool = ToolKind::phone;
  robot.update(agent);
  for (int i = 0; i < 60; ++i) robot.tick(1.0f / 60);
  ASSERT_NE(robot.phoneReceiver, nullptr);
  const BoundingBox head = robot.head->visualBounds(true, robot.root);
  const glm::vec3 receiver = robot.phoneReceiver->position(robot.root);
  EXPECT_GT(receiver.x, head.max.x - 0.01f * 2);
  EXPECT_GT(receiver.y, head.min.y);
  EXPECT_LT(receiver.y, head.max.y);
  EXPECT_FLOAT_EQ(robot.mouth->scale().y, robot.mouthSY);
}

TEST(RobotBehavior, SpeechBubblesReplaceEachOther) {
  std::mt19937 random(2);
  RobotEntity robot(agentOf("Plan"), 0.01f, false, random);
  robot.say(std::string("lgtm"));
  robot.say(std::string(""));
  std::size_t bubbles = 0;
  for (const auto& child : robot.rig->children()) bubbles += child->name == "bubble";
  EXPECT_EQ(bubbles, 1u);
  // An empty text still shows a bubble, holding a single space.
  const auto* label = static_cast<const ModelEntity*>(robot.chatterBubble->children().back().get());
  EXPECT_EQ(std::get<TextMesh>(label->mesh).text, " ");
  EXPECT_FLOAT_EQ(robot.chatterHold, 1.8f);
}

}  // namespace
}  // namespace tallyloft
