#include "entities/DeskEntity.h"

#include <gtest/gtest.h>

#include "entities/VacuumBotEntity.h"

namespace tallyloft {
namespace {

TEST(DeskEntity, ScreenRebuildsOnlyWhatChanged) {
  std::mt19937 random(1);
  DeskEntity desk(0.01f, random);
  desk.occupied = true;
  desk.setScreen("npm test -- --watch=false --coverage", AgentState::working, ToolKind::edit);
  desk.tick(0.01f);
  const long long rebuilt = DeskEntity::materialRebuilds;
  const Entity* status = desk.statusLine;
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(desk.lastStatus, "npm test -- --watch=fals");  // the first 24 characters
  EXPECT_EQ(desk.lastAccentKey, "w:edit");
  desk.setScreen("npm test -- --watch=false --coverage", AgentState::working, ToolKind::edit);
  desk.tick(0.01f);
  EXPECT_EQ(DeskEntity::materialRebuilds, rebuilt);  // nothing rebuilt (the lamp's 15 Hz aside)
  EXPECT_EQ(desk.statusLine, status);

  desk.setScreen("whatever", AgentState::thinking, std::nullopt);
  EXPECT_EQ(desk.statusLine, nullptr);
  EXPECT_EQ(desk.lastAccentKey, "off");
  EXPECT_EQ(std::get<UnlitMaterial>(desk.accent->materials[0]).color, (Color{0.3f, 0.3f, 0.3f, 1}));
}

// Everything on the screen stays on it: code lines within the glass, above the status bar while
// it shows, and the status line within its bar.
TEST(DeskEntity, TextFitsTheScreen) {
  std::mt19937 random(1);
  const float s = 0.01f;
  DeskEntity desk(s, random);
  desk.occupied = true;
  desk.setScreen("src/hooks/HookServerWithAVeryLongName.cpp", AgentState::working, ToolKind::run);
  const BoundingBox glass = desk.screen->visualBounds(true, desk.root);
  const BoundingBox bar = desk.statusLine->visualBounds(true, desk.root);
  EXPECT_LE(bar.max.x - bar.min.x, 22 * s + 1e-5f);
  for (int frame = 0; frame < 600; ++frame) {
    desk.tick(1.0f / 60);
    for (const ModelEntity* line : desk.codeLines) {
      if (!line->isEnabled()) continue;
      const BoundingBox box = line->visualBounds(true, desk.root);
      ASSERT_GE(box.min.x, glass.min.x) << frame;
      ASSERT_LE(box.max.x, glass.max.x) << frame;
      ASSERT_LE(box.max.y, glass.max.y) << frame;
      ASSERT_GE(box.min.y, bar.max.y) << frame;
    }
  }
}

TEST(DeskEntity, LinesTurnToTerminalOutputAndBack) {
  std::mt19937 random(1);
  DeskEntity desk(0.01f, random);
  desk.occupied = true;
  const auto firstLine = [&] { return std::get<TextMesh>(desk.codeLines[0]->mesh).text; };
  desk.setScreen("", AgentState::working, ToolKind::edit);
  EXPECT_EQ(firstLine().rfind("$", 0), std::string::npos);
  desk.setScreen("", AgentState::working, ToolKind::run);
  for (ModelEntity* line : desk.codeLines) {
    const std::string text = std::get<TextMesh>(line->mesh).text;
    EXPECT_TRUE(text.rfind("$ ", 0) == 0 || text.rfind("  ", 0) == 0 ||
                text.rfind("Compiling", 0) == 0 || text.rfind("Build", 0) == 0)
        << text;
  }
  desk.setScreen("", AgentState::working, ToolKind::read);
  EXPECT_FALSE(desk.usingTerm);
  // Scrolling wraps lines and refills them in pool order without growing anything.
  const std::size_t children = desk.root->children().size();
  for (int frame = 0; frame < 600; ++frame) desk.tick(1.0f / 60);
  EXPECT_EQ(desk.root->children().size(), children);
}

TEST(DeskEntity, TheSaverNeverRepeatsAModeAndGlidesDoNotRestart) {
  Entity parent;  // outlives the desk, which takes its tree back out of it
  std::mt19937 random(4);
  DeskEntity desk(0.01f, random);
  int previous = desk.saverMode;
  for (int change = 0; change < 40; ++change) {
    desk.saverModeT = 6.99f;
    desk.tick(0.02f);
    EXPECT_NE(desk.saverMode, previous);
    previous = desk.saverMode;
  }
  desk.attachTo(parent);
  desk.snap({0, 0, 0}, 1);
  desk.glide({0.5f, 0, 0}, 1);
  EXPECT_TRUE(desk.root->isMoving());
  desk.root->advanceAnimations(0.3f);
  desk.glide({0.505f, 0, 0}, 1.005f);  // within 0.01: the running glide goes on untouched
  desk.root->advanceAnimations(0.3f);
  EXPECT_FALSE(desk.root->isMoving());
  EXPECT_NEAR(desk.root->position().x, 0.5f, 1e-5);
  desk.glide({0.5f, 0, 0}, 1);
  EXPECT_FALSE(desk.root->isMoving());
}

TEST(VacuumBot, ParksDeploysAndFinishesOnlyWhenLeaving) {
  VacuumBotEntity bot(0.01f);
  bot.moveTo({0.3f, 0, 0}, 1.0f);
  for (int frame = 0; frame < 60 && !bot.arrived; ++frame) bot.tick(1.0f / 60);
  ASSERT_TRUE(bot.arrived);
  EXPECT_FALSE(bot.isDone);
  bot.moveTo({0.3f, 0, 0}, 1.0f);  // the same spot and facing: stays parked
  EXPECT_TRUE(bot.arrived);

  bot.stowVacuum();  // stowed: nothing
  EXPECT_FALSE(bot.stowing);
  bot.startVacuum();
  for (int frame = 0; frame < 40; ++frame) bot.tick(1.0f / 60);
  EXPECT_TRUE(bot.vacuumOn);
  bot.stowVacuum();
  bot.tick(0.1f);
  const float part = bot.deployT;
  EXPECT_GT(part, 0);
  bot.startVacuum();  // resumes from where the stow got to
  EXPECT_FLOAT_EQ(bot.deployT, part);
  EXPECT_FALSE(bot.stowing);

  // A gulp just before the stow does not blow the shrinking canister back up.
  bot.startVacuum();
  for (int frame = 0; frame < 40; ++frame) bot.tick(1.0f / 60);
  bot.gulpT = 1;
  bot.stowVacuum();
  for (int frame = 0; frame < 15; ++frame) {
    bot.tick(1.0f / 60);
    EXPECT_LE(bot.vacRoot->scale().x, std::max(0.001f, bot.deployT) * 1.3f + 1e-5f);
  }

  bot.moveTo({-0.3f, 0, 0});
  bot.leaving = true;
  for (int frame = 0; frame < 120 && !bot.arrived; ++frame) bot.tick(1.0f / 60);
  EXPECT_TRUE(bot.isDone);
}

}  // namespace
}  // namespace tallyloft
