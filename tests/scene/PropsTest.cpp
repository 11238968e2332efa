#include <gtest/gtest.h>

#include "scene/RoomProps.h"
#include "scene/ShopSign.h"
#include "scene/TaskBoard.h"

namespace tallyloft {
namespace {

TEST(RoomProps, PosterRebuildDoorAndClock) {
  RoomDecor narrow;
  rebuildRoom(narrow, 300, 200, 0.01f);
  EXPECT_EQ(narrow.poster, nullptr);
  RoomDecor wide;
  rebuildRoom(wide, 301, 200, 0.01f);
  EXPECT_NE(wide.poster, nullptr);
  EXPECT_FALSE(wide.needsRebuild(301.4f, 200));
  EXPECT_TRUE(wide.needsRebuild(301.6f, 200));
  EXPECT_TRUE(wide.needsRebuild(301, 200.6f));
  EXPECT_TRUE(RoomDecor().needsRebuild(301, 200));
  rebuildRoom(wide, 320, 200, 0.01f);  // the poster goes with the wall band it hangs on
  ASSERT_NE(wide.poster, nullptr);
  EXPECT_EQ(wide.poster->parent(), wide.signWall);
  rebuildRoom(wide, 250, 200, 0.01f);
  EXPECT_EQ(wide.poster, nullptr);

  DoorEntity door(0.01f);
  door.setSize(0.3f, 0.44f);
  door.setSize(0.3f, 0.44f);
  EXPECT_EQ(door.builds, 1);
  door.setSize(0.32f, 0.44f);
  EXPECT_EQ(door.builds, 2);

  WallClock clock(0.01f, 13 * 3600 + 45 * 60 + 30);
  const glm::vec3 angles = clock.handAngles();
  const float turn = 2 * 3.14159265f;
  EXPECT_NEAR(angles.x / turn * 12, 1 + 45.5f / 60, 1e-4);  // three quarters from 1 to 2
  EXPECT_NEAR(angles.y / turn * 60, 45.5f, 1e-4);
  EXPECT_NEAR(angles.z / turn * 60, 30, 1e-4);
  clock.tick(0.25f);
  EXPECT_NEAR(clock.handAngles().z / turn * 60, 30.25f, 1e-4);  // it sweeps
}

TEST(ShopSign, NameAndCountLabels) {
  ShopSign sign(0.01f, "a-twenty-character-x");
  EXPECT_EQ(sign.lastName, "a-twenty-character-x");
  const auto shownName = [&] {
    return std::get<TextMesh>(
               static_cast<const ModelEntity*>(sign.label->children().back().get())->mesh)
        .text;
  };
  EXPECT_EQ(shownName(), "a-twenty-charac");
  sign.setAgentCount(1);
  EXPECT_EQ(sign.countLabel, nullptr);
  sign.countPulseT = 1;
  sign.setAgentCount(2);
  ASSERT_NE(sign.countLabel, nullptr);
  EXPECT_EQ(sign.countPulseT, 0);  // 1 → 2 pulses
  sign.countPulseT = 1;
  sign.setAgentCount(3);
  EXPECT_EQ(sign.countPulseT, 0);
  const auto countText = [&] {
    return std::get<TextMesh>(
               static_cast<const ModelEntity*>(sign.countLabel->children().back().get())->mesh)
        .text;
  };
  EXPECT_EQ(countText(), "\u00d73");
  sign.countPulseT = 1;
  sign.setAgentCount(2);
  EXPECT_EQ(sign.countPulseT, 1);  // a drop does not pulse
  EXPECT_EQ(countText(), "\u00d72");
}

TEST(TaskBoard, WrapsAndRewritesOnlyOnChange) {
  EXPECT_EQ(TaskBoard::wrap("Refactor the hook server so idle sockets time out", 18, 2),
            (std::vector<std::string>{"Refactor the hook", "server so idle\u2026"}));
  EXPECT_EQ(TaskBoard::wrap("abcdefghijklmnopqrstuvwxyz", 18, 2),
            (std::vector<std::string>{"abcdefghijklmnopqr", "stuvwxyz"}));
  EXPECT_EQ(TaskBoard::wrap("short", 18, 2), std::vector<std::string>{"short"});

  TaskBoard board(0.01f);
  EXPECT_EQ(board.lastTask, "\u2615 \u2026");
  // While it grows, the ink stays in front of the writing surface.
  EXPECT_FLOAT_EQ(board.textWrap->scale().z, 1);
  EXPECT_GT(board.textWrap->children().front()->position(board.root).z, 0.6f * 0.01f);
  board.setTask("Fix the flaky test");
  for (int frame = 0; frame < 120; ++frame) board.tick(1.0f / 60);
  EXPECT_EQ(board.wobbleT, 1);
  EXPECT_EQ(board.revealT, 1);
  const Entity* text = board.textWrap;
  board.setTask("Fix the flaky test");
  EXPECT_EQ(board.textWrap, text);  // same task: no rewrite, no wobble
  EXPECT_EQ(board.wobbleT, 1);
  const std::size_t parts = board.root->children().front()->children().size();
  board.setTask("Another task altogether");
  EXPECT_EQ(board.root->children().front()->children().size(), parts);  // old text and covers gone
  board.setTask(std::nullopt);
  EXPECT_EQ(board.wobbleT, 0);
  EXPECT_EQ(board.lastTask, "\u2615 \u2026");
}

}  // namespace
}  // namespace tallyloft
