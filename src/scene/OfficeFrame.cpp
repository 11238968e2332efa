// The office's frame loop: time stepping, ticking, doors, loose paper and smoke, coffee clinks,
// sway, and freezing when nothing can move.
#include <algorithm>
#include <cmath>

#include "graph/Motion.h"
#include "scene/CrewRealityController.h"

namespace tallyloft {
namespace {

constexpr float kSc = 0.01f;
constexpr float kRestingTilt = -0.05f;
constexpr float kMinStep = 1.0f / 75;
constexpr float kFreezeAfter = 2.0f;
constexpr float kDoorReach = 0.38f;
constexpr float kSwayStep = 0.25f;  // seconds between turns of the sway

float planarDistance(glm::vec3 a, glm::vec3 b) {
  return glm::distance(glm::vec2(a), glm::vec2(b));
}

}  // namespace

void CrewRealityController::frame(float dt) {
  // A step that is not a number (a clock gone wrong) never reaches an animation.
  if (paused_ || frozen_ || !std::isfinite(dt)) return;
  const float step = std::clamp(dt, 0.0001f, 0.1f);
  if (pendingSync_) {
    pendingSync_ = false;
    sync();
  }
  if (onFrame) onFrame();
  if (sceneIsIdle()) {
    idleSettle_ += step;
    if (idleSettle_ >= kFreezeAfter) {
      freeze();
      return;
    }
  } else {
    idleSettle_ = 0;
  }
  if (settleWhenCalm(step)) return;
  tickAccum_ += step;
  if (tickAccum_ < kMinStep) return;
  const float T = tickAccum_;
  tickAccum_ = 0;
  ++steps_;

  if (!reduceMotion_) dust_->tick(T);
  for (auto& [sid, room] : rooms_) {
    if (room.clock) room.clock->tick(T);
    if (room.board) room.board->tick(T);
    if (room.sign) room.sign->tick(T);
    for (auto& robot : room.bench) robot->tick(T);
  }
  for (auto& [id, robot] : robots_) robot->tick(T);
  for (auto& robot : lobby_) robot->tick(T);
  tickDesks(T);
  for (auto& [sid, room] : rooms_) {
    if (room.steam) room.steam->tick(T);
    if (room.vacuumExiting) {
      room.vacuumExiting->tick(T);
      if (room.vacuumExiting->isDone) room.vacuumExiting.reset();
    }
  }
  for (auto& robot : dying_) robot->tick(T);
  for (auto it = deskRetiring_.begin(); it != deskRetiring_.end();) {
    it->t -= T;
    it->d->tick(T);
    it = it->t <= 0 ? deskRetiring_.erase(it) : std::next(it);
  }
  tickLoose(T);
  coffeeClink(T);
  finishDying();
  if (!reduceMotion_) {
    swayT_ += T;
    // The sway moves the whole office, so the renderer's still layer is drawn anew whenever it
    // moves: it turns a few times a second, each step far under a pixel.
    const float shown = std::floor(swayT_ / kSwayStep) * kSwayStep;
    if (shown != swayShown_) {
      swayShown_ = shown;
      sceneAnchor_->setOrientation(about(std::sin(shown * 0.3f) * 0.022f, {0, 1, 0}) *
                                   about(std::sin(shown * 0.2f) * 0.01f + kRestingTilt, {1, 0, 0}));
    }
  }
  if (crew_ == nullptr) return;
  const std::vector<SessionNode>& sessions = crew_->sessions();
  idleRecheckT_ += T;
  if (idleRecheckT_ > 3) {
    idleRecheckT_ = 0;
    for (const SessionNode& session : sessions) {
      if (!session.leaving && session.main.state == AgentState::idle) pendingSync_ = true;
    }
  }
  swingDoors(T);
  for (const SessionNode& session : sessions) driveCompaction(session, T);
  // Reported after the walk over the sessions: telling the model changes it.
  for (const std::string& sid : finishQueue_) crew_->finishCompaction(sid);
  finishQueue_.clear();
}

bool CrewRealityController::sceneIsIdle() const {
  if (loupeActive_ || paused_ || !robots_.empty() || !dying_.empty() || !lobby_.empty())
    return false;
  if (crew_ == nullptr) return true;
  int live = 0;
  for (const SessionNode& session : crew_->sessions()) live += session.liveAgentCount();
  return live == 0;
}

void CrewRealityController::tickDesks(float T) {
  for (auto& [id, desk] : desks_) {
    desk->tick(T);
    const RobotEntity* robot = robotFor(id);
    if (robot != nullptr && planarDistance(robot->worldPos(), desk->root->position()) < 0.24f) {
      const float u = std::clamp((robot->sitT - 0.5f) / 0.35f, 0.0f, 1.0f);
      desk->chairPullTarget = (1 - smoothstep(u)) * 7 * kSc;
      desk->occupied = true;
      // The chair spins with a robot celebrating in its seat.
      desk->seatRotTarget = robot->doneSpinT > 0 ? robot->yaw - (3.14159265f - 1) : 0;
    } else {
      desk->chairPullTarget = 0;
      desk->seatRotTarget = 0;
      desk->occupied = false;
    }
  }
}

void CrewRealityController::tickLoose(float T) {
  for (auto it = fallingSheets_.begin(); it != fallingSheets_.end();) {
    FallingSheet& sheet = *it;
    sheet.t += T;
    sheet.vel.y = std::max(sheet.vel.y - 0.6f * T, -0.26f);
    glm::vec3 at = sheet.e->position() + sheet.vel * T;
    at.x += std::sin(sheet.t * 7 + sheet.phase) * 6 * kSc * T;
    sheet.e->setPosition(at);
    sheet.e->setOrientation(about(sheet.spinRate * T, sheet.spinAxis) * sheet.e->orientation());
    if (sheet.t > 0.55f) sheet.e->setOpacity(std::max(1 - (sheet.t - 0.55f) / 0.35f, 0.0f));
    if (sheet.t >= 0.9f) {
      sheet.e->removeFromParent();
      it = fallingSheets_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = puffs_.begin(); it != puffs_.end();) {
    Puff& puff = *it;
    puff.t += T;
    puff.vel *= std::max(1 - 3 * T, 0.0f);
    puff.e->setPosition(puff.e->position() + puff.vel * T + glm::vec3(0, 0.06f * T, 0));
    const float u = std::min(puff.t / puff.dur, 1.0f);
    puff.e->setScale(glm::vec3(1 + 1.6f * u));
    puff.e->setOpacity((1 - u) * 0.5f);
    if (puff.t >= puff.dur) {
      puff.e->removeFromParent();
      it = puffs_.erase(it);
    } else {
      ++it;
    }
  }
}

void CrewRealityController::coffeeClink(float T) {
  if (settling_) return;  // the loungers are finishing what they do
  clinkCooldown_ -= T;
  if (clinkCooldown_ > 0) return;
  clinkCooldown_ = uniform(3, 6);
  // Loungers grouped by room, in room order; pick a room with a pair, then a robot and its
  // nearest neighbour.
  clinkScratch_.clear();
  clinkRooms_.clear();
  for (const auto& [sid, room] : rooms_) {
    const std::size_t first = clinkScratch_.size();
    for (const auto& [key, robot] : robots_) {
      if (key.first == sid && robot->isLounging() && !robot->exitTarget)
        clinkScratch_.push_back(robot.get());
    }
    if (clinkScratch_.size() - first >= 2) clinkRooms_.emplace_back(first, clinkScratch_.size());
  }
  if (!clinkRooms_.empty()) {
    const auto [first, end] = clinkRooms_[static_cast<std::size_t>(
        std::uniform_int_distribution<std::size_t>(0, clinkRooms_.size() - 1)(random_))];
    const std::size_t pick = std::uniform_int_distribution<std::size_t>(first, end - 1)(random_);
    RobotEntity* a = clinkScratch_[pick];
    RobotEntity* b = nullptr;
    float nearest = 0;
    for (std::size_t i = first; i < end; ++i) {
      if (i == pick) continue;
      const float d = glm::distance(a->worldPos(), clinkScratch_[i]->worldPos());
      if (b == nullptr || d < nearest) b = clinkScratch_[i], nearest = d;
    }
    a->clink(b->worldPos());
    b->clink(a->worldPos());
  } else if (lobby_.size() >= 2) {
    lobby_[0]->clink(lobby_[1]->worldPos());
    lobby_[1]->clink(lobby_[0]->worldPos());
    clinkCooldown_ = uniform(8, 15);
  }
}

void CrewRealityController::finishDying() {
  for (auto it = dying_.begin(); it != dying_.end();) {
    RobotEntity& robot = **it;
    if (!robot.poofing || robot.poof > 0.01f) {
      ++it;
      continue;
    }
    const AgentKey key{robot.session, robot.id};
    exitLane_.erase(&robot);
    it = dying_.erase(it);
    // A session revived while leaving has a new robot under the same key: its desk stays.
    if (robots_.count(key) != 0) continue;
    if (const auto desk = desks_.find(key); desk != desks_.end()) {
      retireDesk(std::move(desk->second), key.first);
      desks_.erase(desk);
    }
    deskSlot_.erase(key);
  }
}

void CrewRealityController::swingDoors(float T) {
  for (auto& [sid, room] : rooms_) {
    if (!room.door || !room.doorPosition) continue;
    const glm::vec3 door = *room.doorPosition;
    bool open = false;
    for (const auto& [key, robot] : robots_) {
      if (open) break;
      open = key.first == sid && planarDistance(robot->worldPos(), door) < kDoorReach;
    }
    for (const auto& robot : dying_) {
      if (open) break;
      open = robot->session == sid && planarDistance(robot->worldPos(), door) < kDoorReach;
    }
    for (const auto* vacuum : {room.vacuum.get(), room.vacuumExiting.get()}) {
      if (!open && vacuum != nullptr)
        open = planarDistance(vacuum->root->position(), door) < kDoorReach;
    }
    const float target = open ? -1.4f : 0.0f;
    float a = room.doorAngle.value_or(0);
    const float k = target < a ? std::min(6 * T, 1.0f) : std::min(2.5f * T, 1.0f);
    a += (target - a) * k;
    // Eased, it would close a little more every frame for ever, and the still layer (the door
    // is in it) would be drawn anew every frame: a hair from shut is shut.
    if (std::fabs(target - a) < 1e-4f) a = target;
    room.doorAngle = a;
    room.door->setSwing(a);
  }
}

}  // namespace tallyloft
