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
  std::size_t inTree = 0;
  for (const auto& child : robot.root->children()) inTree += child->kind() == Entity::Kind::model;
  EXPECT_EQ(inTree, RobotEntity::kMaxParticles + 1);  // the particles and the shadow

  robot.advanceParticles(0.6f);
  EXPECT_NEAR(robot.particles.front().e->opacity(), 0.5f, 1e-4);
  robot.advanceParticles(0.7f);
  EXPECT_TRUE(robot.particles.empty());
  EXPECT_EQ(robot.root->children().size(), 2u);  // the rig and the shadow
}

}  // namespace
}  // namespace tallyloft
