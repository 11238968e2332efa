#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "scene/OfficeFixture.h"

namespace tallyloft {
namespace {

// Every transform in the scene is finite.
bool allFinite(const Entity& entity) {
  const Transform& t = entity.transform();
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(t.translation[i]) || !std::isfinite(t.scale[i])) return false;
  }
  for (int i = 0; i < 4; ++i)
    if (!std::isfinite(t.rotation[i])) return false;
  for (const auto& child : entity.children())
    if (!allFinite(*child)) return false;
  return true;
}

// Two sessions whose subagents share an id: each room drives its own robot and desk.
TEST_F(Office, AnAgentIdInTwoSessionsIsTwoRobots) {
  for (const char* sid : {"a", "b"}) {
    start(sid);
    event("SubagentStart", sid, R"(,"agent_id":"shared","agent_type":"Explore")");
  }
  run(3);  // the desks have glided to their rooms
  EXPECT_EQ(office.robots().size(), 4u);
  EXPECT_EQ(office.desks().size(), 4u);
  const RobotEntity& inA = *office.robots().at({"a", "shared"});
  const RobotEntity& inB = *office.robots().at({"b", "shared"});
  EXPECT_NE(&inA, &inB);
  // Room a is the left half of the strip, room b the right.
  EXPECT_LT(office.desks().at({"a", "shared"})->root->position().x, 0);
  EXPECT_GT(office.desks().at({"b", "shared"})->root->position().x, 0);
  event("SubagentStop", "a", R"(,"agent_id":"shared")");
  run(0.5);
  EXPECT_EQ(office.robots().at({"b", "shared"})->state, AgentState::thinking)
      << "the other session's agent is untouched";
}

TEST_F(Office, ShowsTwelveAgentsPerRoomAndCountsTheRest) {
  start("big", 12);
  start("full", 11);
  run(0.1);
  EXPECT_EQ(office.robots().size(), 24u);
  EXPECT_EQ(office.desks().size(), 24u);
  EXPECT_EQ(office.swarmLabel("big"), "+1 more");
  EXPECT_EQ(office.swarmLabel("full"), std::nullopt);
  EXPECT_EQ(office.sign("big")->lastCount, 13);
  EXPECT_EQ(office.sign("full")->lastCount, 12);
  // Two rooms of 450: twelve desks take three rows at the smallest scale.
  EXPECT_FLOAT_EQ(*office.roomScale("big"), 1.2f * 0.45f);
}

TEST_F(Office, DesksKeepTheirSlotsAndAGapIsFilledOnlyOnceItsRobotHasGone) {
  start("s", 2);
  run(0.1);
  EXPECT_EQ(office.deskSlots().at({"s", "main:s"}), 0);
  EXPECT_EQ(office.deskSlots().at({"s", "s-0"}), 1);
  EXPECT_EQ(office.deskSlots().at({"s", "s-1"}), 2);
  event("SubagentStop", "s", R"(,"agent_id":"s-0")");
  run(26.5);  // removed from the model 26 s after it stopped
  ASSERT_EQ(session("s")->subagents.size(), 1u);
  EXPECT_EQ(office.robots().count({"s", "s-0"}), 0u);
  ASSERT_EQ(office.dying().size(), 1u);
  EXPECT_EQ(office.desks().count({"s", "s-0"}), 1u) << "the desk waits for its robot";
  // A newcomer while the robot is still on its way takes a fresh slot...
  start("s", 0);
  event("SubagentStart", "s", R"(,"agent_id":"early","agent_type":"Plan")");
  run(0.1);
  EXPECT_EQ(office.deskSlots().at({"s", "early"}), 3);
  // ...and once it has gone through the door, its desk slides out and the slot is free again.
  run(30, [&] { return office.dying().empty(); });
  ASSERT_TRUE(office.dying().empty());
  EXPECT_EQ(office.desks().count({"s", "s-0"}), 0u);
  EXPECT_EQ(office.retiringDeskCount(), 1);
  run(0.8);
  EXPECT_EQ(office.retiringDeskCount(), 0);
  event("SubagentStart", "s", R"(,"agent_id":"late","agent_type":"Plan")");
  run(0.1);
  EXPECT_EQ(office.deskSlots().at({"s", "late"}), 1);
}

TEST_F(Office, LeavingRobotsQueueAtTheDoorInThreeLanes) {
  start("s", 3);
  run(2);
  event("SessionEnd", "s", R"(,"reason":"exit")");
  office.frame(0.001f);  // syncs, too short a step to move anything
  ASSERT_EQ(office.dying().size(), 4u);
  const glm::vec3 door = *office.doorPosition("s");
  const float lanes[] = {-0.04f, 0, 0.04f, -0.04f};
  for (std::size_t k = 0; k < 4; ++k) {
    const RobotEntity& robot = *office.dying()[k];
    ASSERT_TRUE(robot.exitTarget);
    EXPECT_NEAR(robot.exitTarget->x - door.x, lanes[k], 1e-5) << k;
    EXPECT_FLOAT_EQ(robot.exitHold, 0.45f * static_cast<float>(k)) << k;
  }
  EXPECT_TRUE(office.robots().empty());
  // The room stays while the session is leaving.
  EXPECT_NE(office.sign("s"), nullptr);
}

TEST_F(Office, RobotsOfTheLastSessionWalkOutEvenOnceItIsGone) {
  start("s", 3);
  run(2);
  event("SessionEnd", "s", R"(,"reason":"exit")");
  office.frame(0.001f);
  ASSERT_EQ(office.dying().size(), 4u);
  // The session is removed while they are still on their way (the office drew nothing meanwhile).
  loop.advance(std::chrono::seconds(15));
  ASSERT_TRUE(crew.sessions().empty());
  office.frame(0.001f);
  ASSERT_EQ(office.dying().size(), 4u);
  for (const auto& robot : office.dying()) {
    EXPECT_FALSE(robot->poofing);
    EXPECT_TRUE(robot->exitTarget);
  }
  const double gone = run(20, [&] { return office.dying().empty(); });
  EXPECT_LT(gone, 20) << "they reach where the door was and leave";
}

TEST_F(Office, ClampsLongFramesAndStepsAtMostSeventyFiveTimesASecond) {
  start("s");
  office.frame(0.02f);  // the pending sync
  const float sway = office.swayClock();
  office.frame(0.5f);
  EXPECT_NEAR(office.swayClock() - sway, 0.1f, 1e-6);
  const int steps = office.acceptedSteps();
  office.frame(1.0f / 120);
  EXPECT_EQ(office.acceptedSteps(), steps);
  EXPECT_NEAR(office.tickAccumulator(), 1.0f / 120, 1e-6);
  office.frame(1.0f / 120);
  EXPECT_EQ(office.acceptedSteps(), steps + 1);
  EXPECT_EQ(office.tickAccumulator(), 0);
  EXPECT_NEAR(office.swayClock() - sway, 0.1f + 1.0f / 60, 1e-5);

  // Model changes between frames make one sync at the next frame.
  const int syncs = office.syncCount();
  for (int i = 0; i < 5; ++i) event("PreToolUse", "s", R"(,"tool_name":"Bash")");
  EXPECT_EQ(office.syncCount(), syncs);
  office.frame(1.0f / 60);
  EXPECT_EQ(office.syncCount(), syncs + 1);

  office.setReduceMotion(true);
  const float still = office.swayClock();
  office.frame(0.05f);
  EXPECT_EQ(office.swayClock(), still) << "no sway";
  EXPECT_FLOAT_EQ(office.anchor().orientation().x, std::sin(-0.025f));
}

TEST_F(Office, DoorOpensForARobotWithinReachAndClosesSlowly) {
  start("s");
  run(0.1);
  RobotEntity& robot = *office.robots().at({"s", "main:s"});
  const glm::vec3 door = *office.doorPosition("s");
  robot.placeAt(door.x + 0.37f, door.y, door.z);
  robot.setSpawnHold(100);  // keeps it where it is
  run(0.02);
  const float opened = *office.doorAngle("s");
  EXPECT_LT(opened, -0.05f);
  robot.placeAt(door.x + 0.38f, door.y, door.z);
  office.frame(1.0f / 60);
  office.frame(1.0f / 60);
  const float closing = *office.doorAngle("s");
  EXPECT_GT(closing, opened);
  const float keep = 1 - 2.5f / 60;  // two steps at the closing rate
  EXPECT_NEAR(closing, opened * keep * keep, 1e-5) << "the closing rate";
}

TEST_F(Office, FreezesTwoSecondsAfterTheLastRobotLeftAndWakesOnAChange) {
  std::vector<bool> calls;
  office.onFrozenChanged = [&](bool frozen) { calls.push_back(frozen); };
  start("s");
  run(2);
  event("SessionEnd", "s", R"(,"reason":"exit")");
  const double gone = run(13, [&] { return office.robots().empty() && office.dying().empty(); });
  ASSERT_LT(gone, 13);
  EXPECT_FALSE(office.frozen());
  const double frozen = run(5, [&] { return office.frozen(); });
  EXPECT_NEAR(frozen, 2.0, 0.05);
  EXPECT_EQ(calls, std::vector<bool>{true});
  const int steps = office.acceptedSteps();
  run(1);
  EXPECT_EQ(office.acceptedSteps(), steps) << "a frozen office does nothing";
  // A new event revives the session: the office runs again.
  event("UserPromptSubmit", "s", R"(,"prompt":"one more thing")");
  EXPECT_FALSE(office.frozen());
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
  run(0.1);
  EXPECT_EQ(office.robots().size(), 1u);
  EXPECT_GT(office.acceptedSteps(), steps);
}

TEST_F(Office, BenchFillsUpToThreeLoungersAndTheLobbyKeepsAnEmptyOfficeCompany) {
  ASSERT_EQ(office.lobby().size(), 2u);
  EXPECT_EQ(office.lobby()[0]->id, "lobby:0");
  EXPECT_EQ(office.lobby()[1]->id, "lobby:1");
  EXPECT_FALSE(office.sceneIsIdle()) << "the lobby pair animates";
  start("none", 0);
  start("one", 1);
  start("three", 3);
  for (const char* sid : {"none", "one", "three"})
    event("PreToolUse", sid, R"(,"tool_name":"Bash")");
  run(0.1);
  EXPECT_TRUE(office.lobby().empty());
  EXPECT_EQ(office.bench("none")->size(), 3u);
  EXPECT_EQ(office.bench("one")->size(), 2u);
  EXPECT_EQ(office.bench("three")->size(), 0u);
  // Three loungers stand in pairs; a lone lounger takes the couch.
  for (const auto& robot : *office.bench("none")) {
    EXPECT_TRUE(robot->isLounging());
    EXPECT_FALSE(robot->inCouchRoutine);
  }
  start("three", 0);
  event("SubagentStart", "one", R"(,"agent_id":"one-b","agent_type":"Plan")");
  run(0.1);
  ASSERT_EQ(office.bench("one")->size(), 1u);
  EXPECT_TRUE(office.bench("one")->front()->inCouchRoutine);
}

TEST_F(Office, AnIdleMainAgentTakesACoffeeAfterTwentyFiveSeconds) {
  start("s", 3);  // no bench: the main agent lounges alone
  event("Stop", "s");
  run(20);
  EXPECT_FALSE(office.robots().at({"s", "main:s"})->isLounging());
  run(9);  // the idle re-check notices within 3 s
  const RobotEntity& main = *office.robots().at({"s", "main:s"});
  EXPECT_TRUE(main.isLounging() || main.inCouchRoutine);
}

TEST_F(Office, CompactionLinesEveryoneUpAndReportsBackOnlyAfterDelivery) {
  start("s", 2);
  for (int i = 0; i < 12; ++i) {
    event("PreToolUse", "s", R"(,"tool_name":"Bash")");
    run(0.5);
  }
  run(1);
  ASSERT_GT(session("s")->clutter, 0);
  EXPECT_GT(office.paperPileCount("s"), 0);
  event("PreCompact", "s", R"(,"trigger":"auto")");
  run(0.2);
  ASSERT_TRUE(office.mainLinePos("s"));
  EXPECT_NEAR(office.mainLinePos("s")->y, office.worldPoint(0, 116).y, 1e-5);
  EXPECT_EQ(office.bench("s")->size(), 0u);
  for (const auto& [id, robot] : office.robots()) {
    ASSERT_TRUE(robot->buildTarget) << id.second;
    EXPECT_NEAR(robot->buildTarget->y, office.worldPoint(0, 116).y, 1e-5) << id.second;
    EXPECT_FALSE(robot->seated) << id.second;
  }
  ASSERT_NE(office.vacuum("s"), nullptr);
  bool finite = true;
  run(25, [&] {
    finite = finite && allFinite(office.scene().root());
    return false;
  });
  EXPECT_TRUE(finite);
  EXPECT_EQ(office.paperPileCount("s"), 0);
  EXPECT_EQ(office.flyingSheetCount("s"), 0);
  EXPECT_EQ(office.cableCount("s"), 3);
  EXPECT_TRUE(session("s")->compacting) << "not delivered yet";
  event("PostCompact", "s", R"(,"trigger":"auto")");
  run(0.5);
  EXPECT_FALSE(session("s")->compacting);
  run(0.2);
  EXPECT_EQ(office.vacuum("s"), nullptr);
  EXPECT_EQ(office.cableCount("s"), 0);
  EXPECT_EQ(office.mainLinePos("s"), std::nullopt);
  EXPECT_EQ(office.bench("s")->size(), 1u);
}

TEST_F(Office, RoomPropsFollowTheRoomsWidthAndTheCouchStandsUpright) {
  // 900 layout units across: one room of 900, three of 300, four of 225.
  office.setViewSize(1800, 400);
  start("a");
  run(0.1);
  auto props = office.roomProps("a");
  ASSERT_TRUE(props);
  EXPECT_TRUE(props->clock);  // only above 420
  EXPECT_TRUE(props->board);  // only above 280
  EXPECT_FALSE(props->divider) << "no divider before the first room";
  start("b");
  start("c");
  run(0.1);
  props = office.roomProps("a");
  EXPECT_FALSE(props->clock);
  EXPECT_TRUE(props->board);
  EXPECT_TRUE(office.roomProps("b")->divider);
  start("d");
  run(0.1);
  EXPECT_FALSE(office.roomProps("d")->clock);
  EXPECT_FALSE(office.roomProps("d")->board);
  // Turned about Y, then tipped back 0.7 rad about the world X axis: its up leans toward the
  // camera only, never sideways (which is how a couch lies on its side), whatever its turn.
  for (const char* sid : {"a", "d"}) {
    const glm::vec3 up = office.roomProps(sid)->couch * glm::vec3(0, 1, 0);
    EXPECT_NEAR(up.x, 0, 1e-5) << sid;
    EXPECT_NEAR(up.y, std::cos(0.7f), 1e-5) << sid;
  }
}

TEST_F(Office, AStepThatIsNotANumberNeverReachesTheAnimations) {
  start("s", 2);
  event("PreToolUse", "s", R"(,"tool_name":"Bash")");
  run(1);
  for (float bad : {std::nanf(""), INFINITY, -INFINITY}) office.frame(bad);
  EXPECT_TRUE(allFinite(office.scene().root()));
  run(1);
  EXPECT_TRUE(allFinite(office.scene().root()));
}

TEST_F(Office, PaperPilesGrowAsTheContextFills) {
  start("s");
  const auto work = [&](int events) {
    for (int i = 0; i < events; ++i) {
      event("PreToolUse", "s", R"(,"tool_name":"Bash")");
      run(0.5);  // each activity event adds a sheet's worth of clutter
    }
    run(2);
  };
  work(2);
  ASSERT_GT(office.paperPileCount("s"), 0);
  const int early = office.paperSheets("s").front().first;
  work(13);  // up to the window's paper cap: full
  ASSERT_EQ(session("s")->clutter, session("s")->paperCap());
  const auto piles = office.paperSheets("s");
  EXPECT_GT(piles.front().first, early) << "the first pile grew with the fill";
  for (const auto& [have, wanted] : piles) EXPECT_EQ(have, wanted);
}

TEST_F(Office, TheCleaningRobotIsSizedToACrowdedRoom) {
  start("s", 11);  // a crowded room: small furniture and robots
  event("PreCompact", "s", R"(,"trigger":"auto")");
  run(0.2);
  ASSERT_NE(office.vacuum("s"), nullptr);
  ASSERT_TRUE(office.roomScale("s"));
  const float expected = std::max(0.8f * *office.roomScale("s"), 0.3f);
  EXPECT_LT(expected, 0.8f);
  EXPECT_FLOAT_EQ(office.vacuum("s")->scaleVal, expected);
  EXPECT_FLOAT_EQ(office.vacuum("s")->root->scale().x, expected);
  // Its hand sits where the scaled robot's hand is, not where a full-sized one's would be.
  const glm::vec3 hand = office.vacuum("s")->handWorld();
  const glm::vec3 base = office.vacuum("s")->root->position(nullptr);
  EXPECT_LT(glm::length(hand - base), 40 * 0.01f * expected + 1e-4f);
}

TEST_F(Office, SheetsInFlightFallWhenACompactionStopsAndNothingTurnsNaN) {
  start("s");
  for (int i = 0; i < 14; ++i) {
    event("PreToolUse", "s", R"(,"tool_name":"Read")");
    run(0.45);
  }
  event("PreCompact", "s");
  // Vacuum until sheets fly, then the compaction is cut short (the reaper's timeout does the same).
  run(20, [&] { return office.flyingSheetCount("s") > 0; });
  ASSERT_GT(office.flyingSheetCount("s"), 0);
  crew.finishCompaction("s");
  run(0.05);
  EXPECT_GT(office.fallingSheetCount(), 0);
  run(1);
  EXPECT_EQ(office.fallingSheetCount(), 0);
  EXPECT_TRUE(allFinite(office.scene().root()));
}

TEST_F(Office, ARevivedSessionKeepsItsDesksWhileTheOldRobotsFinishLeaving) {
  start("s", 1);
  run(2);
  event("SessionEnd", "s", R"(,"reason":"exit")");
  run(0.1);
  ASSERT_EQ(office.dying().size(), 2u);
  event("UserPromptSubmit", "s", R"(,"prompt":"wait, one more")");
  event("SubagentStart", "s", R"(,"agent_id":"s-0","agent_type":"Explore")");
  run(0.1);
  ASSERT_EQ(office.robots().size(), 2u);
  run(30, [&] { return office.dying().empty(); });
  ASSERT_TRUE(office.dying().empty());
  EXPECT_EQ(office.desks().count({"s", "main:s"}), 1u);
  EXPECT_EQ(office.desks().count({"s", "s-0"}), 1u);
  EXPECT_EQ(office.retiringDeskCount(), 0);
  EXPECT_EQ(office.deskSlots().at({"s", "main:s"}), 0);
  EXPECT_EQ(office.deskSlots().at({"s", "s-0"}), 1);
}

TEST_F(Office, ANarrowViewLaysNothingOut) {
  office.setViewSize(1, 1);
  start("s", 2);
  run(0.1);
  EXPECT_TRUE(office.robots().empty());
  EXPECT_TRUE(office.lobby().empty());
  office.setViewSize(900, 200);
  run(0.1);
  EXPECT_EQ(office.robots().size(), 3u);
}

}  // namespace
}  // namespace tallyloft
