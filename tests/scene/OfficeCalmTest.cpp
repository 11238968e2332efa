#include <gtest/gtest.h>

#include <vector>

#include "scene/OfficeFixture.h"

namespace tallyloft {
namespace {

bool everyRobot(const CrewRealityController& office, bool (*test)(const RobotEntity&)) {
  for (const auto& [id, robot] : office.robots()) {
    if (!test(*robot)) return false;
  }
  for (const auto& robot : office.lobby()) {
    if (!test(*robot)) return false;
  }
  return true;
}

TEST_F(Office, WhatCountsAsCalm) {
  run(1);
  EXPECT_EQ(office.activity(), OfficeActivity::calm) << "the lobby pair";

  // A session's main agent, idle: it walks to the coffee corner after 25 s, and only then is the
  // office calm (the bench robots lounge there with it).
  start("s");
  run(1);
  EXPECT_EQ(office.activity(), OfficeActivity::busy) << "thinking";
  event("Stop", "s");
  run(1);
  EXPECT_EQ(office.activity(), OfficeActivity::busy);
  ASSERT_NE(office.bench("s"), nullptr);
  EXPECT_FALSE(office.bench("s")->empty());
  const double calm = run(40, [&] { return office.activity() == OfficeActivity::calm; });
  EXPECT_GT(calm, 24);
  EXPECT_LT(calm, 40);
  EXPECT_TRUE(office.robots().at({"s", "main:s"})->isLounging());

  event("PermissionRequest", "s", R"(,"tool_name":"Bash")");
  run(0.1);
  EXPECT_EQ(office.activity(), OfficeActivity::busy) << "it walks back to its desk";
  EXPECT_LT(run(10, [&] { return office.activity() == OfficeActivity::waiting; }), 10);

  event("PreToolUse", "s", R"(,"tool_name":"Bash")");
  run(0.1);
  EXPECT_EQ(office.activity(), OfficeActivity::busy) << "working";
  event("Stop", "s");
  event("PreCompact", "s", R"(,"trigger":"auto")");
  run(0.1);
  EXPECT_EQ(office.activity(), OfficeActivity::busy) << "compacting";
}

TEST_F(Office, ARobotWalkingOutIsNotCalm) {
  start("s");
  event("Stop", "s");
  ASSERT_LT(run(40, [&] { return office.activity() == OfficeActivity::calm; }), 40);
  event("SessionEnd", "s", R"(,"reason":"exit")");
  run(0.5);
  EXPECT_EQ(office.activity(), OfficeActivity::busy);
  EXPECT_FALSE(office.dying().empty() && office.robots().empty());
}

TEST_F(Office, ACalmOfficeSettlesThenFreezes) {
  std::vector<bool> calls;
  office.onFrozenChanged = [&](bool frozen) { calls.push_back(frozen); };
  const double frozen = run(40, [&] { return office.frozen(); });
  EXPECT_GE(frozen, 20);
  EXPECT_LT(frozen, 31);
  EXPECT_EQ(calls, std::vector<bool>{true});
  EXPECT_TRUE(office.settling());
  EXPECT_TRUE(everyRobot(office, [](const RobotEntity& robot) {
    return robot.atRest() && robot.chatterBubble == nullptr && robot.settling;
  }));
  const int steps = office.acceptedSteps();
  run(5);
  EXPECT_EQ(office.acceptedSteps(), steps) << "a frozen office does nothing";
}

TEST_F(Office, ALoungerOnTheCouchSitsDownBeforeTheOfficeFreezes) {
  start("s", 1);
  event("SubagentStop", "s", R"(,"agent_id":"s-0")");
  event("Stop", "s");
  ASSERT_LT(run(90, [&] { return office.frozen(); }), 90);
  for (const auto& [id, robot] : office.robots()) {
    if (robot->inCouchRoutine) {
      EXPECT_EQ(robot->couchPhase, 1) << id.second;
      EXPECT_FLOAT_EQ(robot->sitT, 1) << id.second;
    }
  }
}

TEST_F(Office, AFrozenCalmOfficeWakesOnEachTrigger) {
  const auto freezeAgain = [&] { ASSERT_LT(run(80, [&] { return office.frozen(); }), 80); };
  const auto expectAwake = [&](const char* why) {
    EXPECT_FALSE(office.frozen()) << why;
    EXPECT_FALSE(office.settling()) << why;
    EXPECT_EQ(office.calmSeconds(), 0) << why;
    const int steps = office.acceptedSteps();
    run(0.1);
    EXPECT_GT(office.acceptedSteps(), steps) << why;
  };
  freezeAgain();
  start("s");
  expectAwake("a model change");
  event("Stop", "s");
  freezeAgain();
  office.setLoupeActive(true);
  expectAwake("the magnifier");
  EXPECT_EQ(office.activity(), OfficeActivity::busy);
  office.setLoupeActive(false);
  freezeAgain();
  office.setViewSize(800, 200);
  expectAwake("a resize");
  freezeAgain();
  office.setPaused(true);
  office.setPaused(false);
  expectAwake("showing the panel");
}

TEST_F(Office, AFrozenOfficeKeepsItsWallClocksRight) {
  start("s");
  event("Stop", "s");
  ASSERT_LT(run(60, [&] { return office.frozen(); }), 60);
  ASSERT_TRUE(office.roomProps("s")->clock);
  std::vector<bool> calls;
  office.onFrozenChanged = [&](bool frozen) { calls.push_back(frozen); };
  const float minute = office.clockHands("s")->y;
  // Ten minutes on the model's clock with no frames: one frame a minute turns the hands on.
  for (int i = 0; i < 10; ++i) {
    loop.advance(std::chrono::seconds(60));
    loop.runPending();
    if (!office.frozen()) office.scene().update(kStep);
  }
  EXPECT_EQ(calls.size(), 20u);
  EXPECT_TRUE(office.frozen());
  EXPECT_EQ(office.calmSeconds() >= 20, true) << "a refresh keeps the calm";
  const float turned = office.clockHands("s")->y - minute;
  EXPECT_NEAR(std::remainder(turned, 2 * 3.14159265f), 10 * 2 * 3.14159265f / 60, 0.01f);
}

TEST(FramePacing, FramesByNeed) {
  using std::chrono::microseconds;
  const auto perSecond = [](microseconds interval) { return 1e6 / interval.count(); };
  EXPECT_NEAR(perSecond(frameInterval(OfficeActivity::busy, false)), 60, 0.01);
  EXPECT_LE(perSecond(frameInterval(OfficeActivity::busy, true)), 30);
  EXPECT_GT(perSecond(frameInterval(OfficeActivity::busy, true)), 29.99);
  for (OfficeActivity gentle : {OfficeActivity::waiting, OfficeActivity::calm}) {
    EXPECT_EQ(perSecond(frameInterval(gentle, false)), 20);
    EXPECT_EQ(perSecond(frameInterval(gentle, true)), 10);
  }
}

}  // namespace
}  // namespace tallyloft
