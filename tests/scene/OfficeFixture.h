#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/LoopScheduler.h"
#include "scene/CrewRealityController.h"

namespace tallyloft {

constexpr double kStep = 1.0 / 60;

// A crew model on virtual time and the office that shows it, 900 × 200 points.
class Office : public ::testing::Test {
 protected:
  Office() { office.setViewSize(900, 200); }

  void post(const std::string& json) {
    auto event = HookEvent::decode(json, loop.now());
    ASSERT_TRUE(event) << json;
    crew.reduce(*event);
  }
  void start(const std::string& sid, int subagents = 0, const std::string& type = "Explore") {
    post(R"({"hook_event_name":"SessionStart","session_id":")" + sid + R"(","cwd":"/p/)" + sid +
         R"("})");
    for (int i = 0; i < subagents; ++i) {
      post(R"({"hook_event_name":"SubagentStart","session_id":")" + sid + R"(","agent_id":")" +
           sid + "-" + std::to_string(i) + R"(","agent_type":")" + type + R"("})");
    }
  }
  void event(const std::string& name, const std::string& sid, const std::string& extra = "") {
    post(R"({"hook_event_name":")" + name + R"(","session_id":")" + sid + "\"" + extra + "}");
  }
  // Frames of 1/60 s on the model's clock, until `done` holds (when given) or time runs out.
  double run(double seconds, const std::function<bool()>& done = nullptr) {
    double t = 0;
    for (; t < seconds; t += kStep) {
      if (done && done()) return t;
      loop.advance(std::chrono::microseconds(16667));
      loop.runPending();
      office.scene().update(kStep);
    }
    return t;
  }
  // When `first` raised its cup (checking `second` raised its own at once), frame by frame from
  // its cup timer at `last`, while `going` holds for the seconds run so far.
  std::vector<double> clinkTimes(const RobotEntity& first, const RobotEntity& second, float last,
                                 const std::function<bool(double)>& going) {
    std::vector<double> clinks;
    double t = 0;
    while (going(t)) {
      t += run(kStep);
      if (first.clinkT > last + 0.5f) {
        clinks.push_back(t);
        EXPECT_GT(second.clinkT, 1) << "both at once";
      }
      last = first.clinkT;
    }
    return clinks;
  }
  // At least two clinks, each `low` to `high` seconds after the one before.
  static void expectApart(const std::vector<double>& clinks, double low, double high) {
    ASSERT_GE(clinks.size(), 2u);
    for (std::size_t i = 1; i < clinks.size(); ++i) {
      EXPECT_GE(clinks[i] - clinks[i - 1], low - 0.05) << i;
      EXPECT_LE(clinks[i] - clinks[i - 1], high + 0.05) << i;
    }
  }
  const SessionNode* session(const std::string& sid) const {
    for (const SessionNode& each : crew.sessions())
      if (each.id == sid) return &each;
    return nullptr;
  }

  LoopScheduler loop{Scheduler::TimePoint{}};
  CrewModel crew{loop};
  CrewRealityController office{crew, loop, {false, 7}};
};

}  // namespace tallyloft
