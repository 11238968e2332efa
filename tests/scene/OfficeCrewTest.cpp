// The office's crew over time: arrivals, celebrations, clinks, chairs, and what a session that
// has gone leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "scene/OfficeFixture.h"

namespace tallyloft {
namespace {

int countNamed(const Entity& entity, const std::string& name) {
  int count = entity.name == name ? 1 : 0;
  for (const auto& child : entity.children()) count += countNamed(*child, name);
  return count;
}

TEST_F(Office, AVanishedSessionLeavesNothingBehind) {
  start("s", 14);                                    // twelve shown, a swarm label for the rest
  event("PreCompact", "s", R"(,"trigger":"auto")");  // cables and a cleaning robot
  run(8);
  ASSERT_TRUE(office.swarmLabel("s"));
  ASSERT_GT(office.cableCount("s"), 0);
  event("SessionEnd", "s", R"(,"reason":"exit")");
  ASSERT_LT(run(40,
                [&] {
                  return session("s") == nullptr && office.dying().empty() &&
                         office.retiringDeskCount() == 0;
                }),
            40);
  run(0.1);
  EXPECT_TRUE(office.robots().empty());
  EXPECT_TRUE(office.desks().empty());
  EXPECT_TRUE(office.deskSlots().empty());
  EXPECT_EQ(office.bench("s"), nullptr);
  EXPECT_FALSE(office.roomProps("s"));
  EXPECT_FALSE(office.doorPosition("s"));
  EXPECT_FALSE(office.swarmLabel("s"));
  EXPECT_EQ(office.sign("s"), nullptr);
  EXPECT_EQ(office.vacuum("s"), nullptr);
  EXPECT_EQ(office.paperPileCount("s"), 0);
  EXPECT_EQ(office.cableCount("s"), 0);
  EXPECT_EQ(office.flyingSheetCount("s"), 0);
  for (const char* prop : {"sign", "clock", "board", "door", "steam", "vacuum-bot", "desk"})
    EXPECT_EQ(countNamed(office.scene().root(), prop), 0) << prop;
  EXPECT_EQ(office.lobby().size(), 2u) << "the lobby pair keeps the empty office company";
}

TEST_F(Office, NewcomersComeThroughTheDoorOrFromTheBench) {
  // Arriving together, the main agent and four subagents walk in through the door, held back
  // 0.6 s and 0.4 s + 0.12 s per place.
  start("door", 4);
  office.frame(1.0f / 60);
  EXPECT_NEAR(office.robots().at({"door", "main:door"})->spawnHold, 0.6f, 0.02f);
  for (int i = 0; i < 4; ++i) {
    const RobotEntity& robot = *office.robots().at({"door", "door-" + std::to_string(i)});
    EXPECT_NEAR(robot.spawnHold, 0.4f + 0.12f * static_cast<float>(i + 1), 0.02f) << i;
    EXPECT_TRUE(robot.entranceOrigin) << i;
  }

  // A subagent of a small crew is one of the bench robots at the coffee corner, called up.
  start("bench");
  run(2);
  const auto* bench = office.bench("bench");
  ASSERT_NE(bench, nullptr);
  ASSERT_EQ(bench->size(), 3u);
  const glm::vec3 from = bench->back()->worldPos();
  event("SubagentStart", "bench", R"(,"agent_id":"helper","agent_type":"Explore")");
  office.frame(1.0f / 60);
  const RobotEntity& helper = *office.robots().at({"bench", "helper"});
  EXPECT_LT(glm::distance(helper.worldPos(), from), 0.02f);
  EXPECT_EQ(helper.spawnHold, 0);
  EXPECT_FALSE(helper.entranceOrigin);
  EXPECT_EQ(office.bench("bench")->size(), 2u);
}

TEST_F(Office, AFinishedAgentIsCheeredAtTheDesksAndToastedAtTheCoffeeCorner) {
  start("s", 3);
  run(6);  // all at their desks
  // Two finish at once: the agents still at work cheer, the finished ones do not.
  event("SubagentStop", "s", R"(,"agent_id":"s-0")");
  event("SubagentStop", "s", R"(,"agent_id":"s-1")");
  office.frame(1.0f / 60);
  EXPECT_GT(office.robots().at({"s", "main:s"})->cheerT, 1.4f);
  EXPECT_GT(office.robots().at({"s", "s-2"})->cheerT, 1.4f);
  EXPECT_EQ(office.robots().at({"s", "s-0"})->cheerT, 0);
  EXPECT_EQ(office.robots().at({"s", "s-1"})->cheerT, 0);

  // The main agent has its coffee; when the last subagent finishes, it raises its cup.
  event("Stop", "s");
  ASSERT_LT(run(40, [&] { return office.robots().at({"s", "main:s"})->isLounging(); }), 40);
  run(3);
  event("SubagentStop", "s", R"(,"agent_id":"s-2")");
  office.frame(1.0f / 60);
  const RobotEntity& main = *office.robots().at({"s", "main:s"});
  EXPECT_GT(main.toastT, 1.3f);
  EXPECT_EQ(main.cheerT, 0);
  EXPECT_NE(main.chatterBubble, nullptr) << "🎉";
}

TEST_F(Office, TheLobbyPairClinksEightToFifteenSecondsApart) {
  const std::vector<double> clinks =
      clinkTimes(*office.lobby().front(), *office.lobby().back(), 0,
                 [&](double t) { return !office.frozen() && t < 40; });
  expectApart(clinks, 8, 15);
}

TEST_F(Office, TheChairFollowsItsRobot) {
  start("s");
  const DeskEntity* desk = nullptr;
  const RobotEntity* robot = nullptr;
  bool pulledOut = false;
  run(20, [&] {
    if (robot == nullptr && !office.robots().empty()) {
      robot = office.robots().at({"s", "main:s"}).get();
      desk = office.desks().at({"s", "main:s"}).get();
    }
    // Sitting down, the robot has the chair pulled out, then pushed in under it.
    if (robot != nullptr && robot->sitT > 0.55f && robot->sitT < 0.75f && desk->occupied)
      pulledOut |= desk->chairPullTarget > 0.01f;
    return robot != nullptr && robot->sitT == 1;
  });
  ASSERT_NE(robot, nullptr);
  EXPECT_TRUE(pulledOut);
  EXPECT_EQ(robot->sitT, 1);
  EXPECT_TRUE(desk->occupied);
  EXPECT_EQ(desk->chairPullTarget, 0);
  event("Stop", "s");
  ASSERT_LT(run(40, [&] { return robot->isLounging() && !robot->walking; }), 40);
  EXPECT_FALSE(desk->occupied) << "gone for coffee";
}

TEST_F(Office, TheLobbySpotsFollowAResize) {
  run(0.1);
  office.setViewSize(1200, 200);
  run(0.1);
  ASSERT_EQ(office.lobby().size(), 2u);
  EXPECT_NEAR(office.lobby()[0]->loungeBase->x, office.worldPoint(600 - 16, 60).x, 1e-5);
  EXPECT_NEAR(office.lobby()[1]->loungeBase->x, office.worldPoint(600 + 16, 60).x, 1e-5);
}

// The coffee line while the context is cleaned: from 36 % of the room to 92 % at most, 16 % of
// the room apart; the cleaning robot parks 0.46 left of the main agent; the chain grows a link
// every 1.1 s, and a compaction delivered early ends once the chain has shown for 2.5 s.
TEST_F(Office, TheCompactionLineAndItsTiming) {
  start("s", 3);
  run(3);
  event("PreCompact", "s", R"(,"trigger":"auto")");
  run(0.1);
  std::vector<float> line;
  for (const auto& [key, robot] : office.robots()) line.push_back(robot->buildTarget->x);
  std::sort(line.begin(), line.end());
  ASSERT_EQ(line.size(), 4u);
  EXPECT_NEAR(line.front(), office.worldPoint(0.36f * 900, 116).x, 1e-4);
  for (std::size_t i = 1; i < line.size(); ++i)
    EXPECT_NEAR(line[i] - line[i - 1], 0.16f * 900 * 0.01f, 1e-4) << i;

  // No paper to clean: the robot goes straight to its parking spot.
  ASSERT_LT(run(20, [&] { return office.vacuum("s")->arrived; }), 20);
  const glm::vec3 parked = office.vacuum("s")->root->position();
  EXPECT_NEAR(parked.x, office.mainLinePos("s")->x - 0.46f, 0.02f);
  const float started = office.chainProgress("s").value_or(-1);
  EXPECT_LT(started, 0.1f);
  event("PostCompact", "s", R"(,"trigger":"auto")");
  float grown = 0;
  std::vector<int> links;  // links shown at 0.5 s, 1.65 s and 2.3 s of chain
  const double shown = run(10, [&] {
    const float now = office.chainProgress("s").value_or(grown);
    for (float mark : {0.5f, 1.65f, 2.3f}) {
      if (grown < mark && now >= mark) links.push_back(office.cablesShown("s"));
    }
    grown = now;
    return !session("s")->compacting;
  });
  EXPECT_EQ(links, (std::vector<int>{1, 2, 3})) << "a link every 1.1 s";
  EXPECT_NEAR(shown, 2.5 - started, 0.1);
  EXPECT_LT(grown, 4 * 1.1f) << "delivered before all four links had grown";
}

// Two loungers of one room clink their cups together, 3 to 6 s apart.
TEST_F(Office, LoungersOfARoomClinkInPairs) {
  start("s", 1);
  event("Stop", "s");
  run(20);
  event("SubagentStop", "s", R"(,"agent_id":"s-0")");  // done: off to the coffee corner too
  RobotEntity& main = *office.robots().at({"s", "main:s"});
  RobotEntity& helper = *office.robots().at({"s", "s-0"});
  ASSERT_LT(run(15, [&] { return main.isLounging() && helper.isLounging(); }), 15);
  const std::vector<double> clinks = clinkTimes(
      main, helper, main.clinkT, [&](double t) { return t < 14 && office.robots().size() == 2; });
  expectApart(clinks, 3, 6);
}

// Paper piles lie in the room's floor band (6 % to 94 % of its width, 7 % to 67 % of its
// height) and keep their place in it when the panel is resized.
TEST_F(Office, PaperPilesKeepTheirPlaceInTheRoomOnAResize) {
  start("s");
  for (int i = 0; i < 8; ++i) {
    event("PreToolUse", "s", R"(,"tool_name":"Bash")");
    run(0.5);
  }
  run(2);
  const auto fractions = [&](float width) {
    std::vector<glm::vec2> placed;
    for (const glm::vec3& at : office.paperPilePositions("s")) {
      // Back to layout units: x from the left edge, y from the bottom.
      const glm::vec2 layout(at.x / 0.01f + width / 2, at.y / 0.01f + 100);
      placed.emplace_back(layout.x / width, layout.y / 200);
      EXPECT_GE(placed.back().x, 0.06f - 1e-4f);
      EXPECT_LE(placed.back().x, 0.94f + 1e-4f);
      EXPECT_GE(placed.back().y, 0.07f - 1e-4f);
      EXPECT_LE(placed.back().y, 0.67f + 1e-4f);
    }
    return placed;
  };
  const auto before = fractions(900);
  ASSERT_GE(before.size(), 2u);
  office.setViewSize(1200, 200);
  run(1);  // the piles slide to their new places
  const auto after = fractions(1200);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_NEAR(after[i].x, before[i].x, 1e-3) << i;
    EXPECT_NEAR(after[i].y, before[i].y, 1e-3) << i;
  }
}

// With paper to clean, the cleaning robot works from a station 0.6 left of the main agent's
// place in the coffee line, at the piles' depth, but never past the door.
TEST_F(Office, TheCleaningStationIsLeftOfTheMainAgentsPlaceInLine) {
  for (const char* sid : {"a", "b", "c"}) {
    start(sid);
    for (int i = 0; i < 6; ++i) {
      event("PreToolUse", sid, R"(,"tool_name":"Bash")");
      run(0.3);
    }
  }
  run(2);
  for (const char* sid : {"a", "b", "c"}) event("PreCompact", sid, R"(,"trigger":"auto")");
  run(0.5);
  for (const char* sid : {"a", "b", "c"}) {
    ASSERT_TRUE(office.vacuumStation(sid)) << sid;
    const glm::vec3 station = *office.vacuumStation(sid);
    const glm::vec3 line = *office.mainLinePos(sid);
    EXPECT_NEAR(station.x, std::max(line.x - 0.6f, office.doorPosition(sid)->x + 0.08f), 1e-4)
        << sid;
    EXPECT_NEAR(station.y, line.y, 1e-5) << sid;
    EXPECT_GT(station.x, office.doorPosition(sid)->x) << sid;
  }
}

}  // namespace
}  // namespace tallyloft
