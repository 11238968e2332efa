// A calm office: what moves in it (for the frame rate), settling its robots once nothing but
// loungers has moved for a while, and freezing it until something happens.
#include <algorithm>
#include <chrono>

#include "scene/CrewRealityController.h"

namespace tallyloft {
namespace {

constexpr float kSettleAfter = 20;  // seconds of calm before the robots settle
constexpr float kRestHold = 0.6f;   // every robot at rest for this long: the office freezes
constexpr float kSettleLimit = 10;  // seconds of settling after which it freezes regardless
constexpr auto kClockRefresh = std::chrono::seconds(60);

}  // namespace

template <typename Test>
bool CrewRealityController::anyRobot(Test&& test) const {
  for (const auto& [id, robot] : robots_) {
    if (test(*robot)) return true;
  }
  for (const auto& robot : lobby_) {
    if (test(*robot)) return true;
  }
  for (const auto& [sid, room] : rooms_) {
    for (const auto& robot : room.bench) {
      if (test(*robot)) return true;
    }
  }
  return false;
}

OfficeActivity CrewRealityController::measureActivity() const {
  if (loupeActive_ || pendingSync_ || !dying_.empty() || !deskRetiring_.empty() ||
      !fallingSheets_.empty() || !puffs_.empty())
    return OfficeActivity::busy;
  for (const auto& [sid, room] : rooms_) {
    if (!room.flyingPapers.empty() || room.vacuum || room.vacuumExiting ||
        !room.chainCables.empty() || room.chainT)
      return OfficeActivity::busy;
  }
  bool waiting = false;
  if (crew_ != nullptr) {
    for (const SessionNode& session : crew_->sessions()) {
      if (session.compacting || session.leaving) return OfficeActivity::busy;
      const auto busy = [&](const AgentNode& agent) {
        switch (agent.state) {
          case AgentState::thinking:
          case AgentState::working:
            return true;
          case AgentState::waiting:
            waiting = true;
            return false;
          case AgentState::idle:
          case AgentState::done:
          case AgentState::error:
            break;
        }
        // An agent due at the coffee corner is on its way until its robot lounges there; an idle
        // main agent walks there after a while.
        if (agent.isMain && agent.state == AgentState::idle && !atCoffee(agent)) return true;
        const RobotEntity* robot = robotFor({session.id, agent.id});
        return robot != nullptr && atCoffee(agent) && !robot->isLounging() &&
               !robot->inCouchRoutine;
      };
      if (busy(session.main)) return OfficeActivity::busy;
      for (const AgentNode& agent : session.subagents) {
        if (busy(agent)) return OfficeActivity::busy;
      }
    }
  }
  const auto moving = [](const RobotEntity& robot) {
    return robot.exitTarget || robot.entranceOrigin || robot.walking || robot.returning ||
           robot.surpriseT > 0 || robot.cheerT > 0 || robot.toastT > 0 || robot.spawnHold > 0;
  };
  if (anyRobot(moving)) return OfficeActivity::busy;
  return waiting ? OfficeActivity::waiting : OfficeActivity::calm;
}

bool CrewRealityController::settleWhenCalm(float step) {
  activity_ = measureActivity();
  if (activity_ != OfficeActivity::calm) {
    calmT_ = 0;
    restT_ = 0;
    if (settling_) setSettling(false);
    return false;
  }
  calmT_ += step;
  if (calmT_ < kSettleAfter) return false;
  setSettling(true);  // also robots made since
  restT_ = everyRobotAtRest() ? restT_ + step : 0;
  if (restT_ < kRestHold && calmT_ < kSettleAfter + kSettleLimit) return false;
  freeze();
  return true;
}

void CrewRealityController::setSettling(bool on) {
  settling_ = on;
  anyRobot([on](RobotEntity& robot) {
    robot.settling = on;
    return false;
  });
}

bool CrewRealityController::everyRobotAtRest() const {
  return !anyRobot([](const RobotEntity& robot) { return !robot.atRest(); });
}

void CrewRealityController::freeze() {
  if (frozen_) return;
  frozen_ = true;
  frozenAt_ = scheduler_.now();
  const bool clocks = std::any_of(rooms_.begin(), rooms_.end(), [](const auto& entry) {
    const auto& clock = entry.second.clock;
    return clock && clock->root->isEnabled();
  });
  if (clocks) clockRefresh_ = scheduler_.after(kClockRefresh, [this] { refreshFrozen(); });
  if (onFrozenChanged) onFrozenChanged(true);
}

void CrewRealityController::unfreeze() {
  if (!frozen_) return;
  if (clockRefresh_ != 0) scheduler_.cancel(clockRefresh_);
  clockRefresh_ = 0;
  catchUpClocks();
  frozen_ = false;
  idleSettle_ = 0;
  calmT_ = 0;
  restT_ = 0;
  setSettling(false);
  pendingSync_ = true;
  if (onFrozenChanged) onFrozenChanged(false);
}

void CrewRealityController::refreshFrozen() {
  clockRefresh_ = 0;
  if (!frozen_) return;
  // One frame, then frozen again: the calm, the settling and the rest are kept.
  catchUpClocks();
  frozen_ = false;
  if (onFrozenChanged) onFrozenChanged(false);
}

void CrewRealityController::catchUpClocks() {
  const auto now = scheduler_.now();
  const double away = std::chrono::duration<double>(now - frozenAt_).count();
  frozenAt_ = now;
  if (away <= 0) return;
  for (auto& [sid, room] : rooms_) {
    if (room.clock) room.clock->tick(static_cast<float>(away));
  }
}

}  // namespace tallyloft
