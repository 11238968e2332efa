// The coffee corner, the bench and the lobby: where agents go when they are not at work.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "graph/Motion.h"
#include "scene/CrewRealityController.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kSc = 0.01f;
constexpr float kDeskAngle = -1.0f;
constexpr auto kCoffeeAfterIdle = std::chrono::seconds(25);

}  // namespace

bool CrewRealityController::atCoffee(const AgentNode& agent) const {
  if (agent.state == AgentState::done) return true;
  return agent.isMain && agent.state == AgentState::idle &&
         scheduler_.now() - agent.lastActivity > kCoffeeAfterIdle;
}

void CrewRealityController::posture(const SessionNode& session, Room& room, const RoomFrame& f,
                                    const AgentNode& agent, RobotEntity& robot, glm::vec3 seat,
                                    int k, int m) {
  if (session.compacting) {
    // Everyone lines up for coffee while the context is cleaned.
    robot.clearCouchRoutine();
    robot.setLounge(std::nullopt, 0);
    const float spacing =
        m > 1 ? std::min((0.92f - 0.36f) * f.slotW / static_cast<float>(m - 1), 0.16f * f.slotW)
              : 0.0f;
    const float x =
        std::min(f.lo + 0.36f * f.slotW + spacing * static_cast<float>(k), f.lo + 0.92f * f.slotW);
    const glm::vec3 spot = worldPoint(x, 116, -0.03f);
    if (agent.isMain) room.mainLinePos = spot;
    robot.setSeated(false, kPi);
    robot.setBuildTarget(spot, spot);
    return;
  }
  if (atCoffee(agent)) return;  // the bench step seats it among the loungers
  robot.clearCouchRoutine();
  robot.setLounge(std::nullopt, 0);
  robot.setBuildTarget(seat, std::nullopt);
  robot.setSeated(true, kPi + kDeskAngle);
}

void CrewRealityController::benchStep(const SessionNode& session, Room& room, const RoomFrame& f,
                                      const std::vector<const AgentNode*>& shown) {
  int shownSubagents = 0;
  for (const AgentNode* agent : shown) shownSubagents += agent->isMain ? 0 : 1;
  const std::size_t wanted =
      session.compacting ? 0 : static_cast<std::size_t>(std::max(3 - shownSubagents, 0));
  while (room.bench.size() > wanted) room.bench.pop_back();
  const float scale = room.roomScale.value_or(1.2f);
  while (room.bench.size() < wanted) {
    AgentNode synthetic = AgentNode::make(
        "bench:" + session.id + ":" + std::to_string(room.bench.size()), "main", true, {});
    synthetic.state = AgentState::idle;
    auto robot = std::make_unique<RobotEntity>(synthetic, kSc, true, random_);
    robot->attachTo(*sceneAnchor_);
    robot->bodyScaleTarget = std::clamp(scale, 0.5f, 1.8f);
    // At the coffee corner, as far as the room's floor reaches: placed above it, the robot would
    // be put somewhere at random by its territory.
    robot->placeAt(std::clamp(f.coffee.x, f.walkLo.x, f.walkHi.x),
                   std::clamp(f.coffee.y, f.walkLo.y, f.walkHi.y), f.coffee.z);
    robot->setLounge(glm::vec3(f.coffee.x, f.coffee.y, -0.03f), 0);
    room.bench.push_back(std::move(robot));
  }

  std::vector<RobotEntity*> group;
  if (!session.compacting) {
    for (const AgentNode* agent : shown) {
      if (atCoffee(*agent)) group.push_back(robotFor({session.id, agent->id}));
    }
  }
  for (const auto& robot : room.bench) group.push_back(robot.get());
  const int total = static_cast<int>(group.size());
  for (int i = 0; i < total; ++i)
    layoutBench(*group[static_cast<std::size_t>(i)], i, total, f, scale);
  if (!session.compacting) {
    reconcilePapers(session.id, room, session.clutter, session.paperCap(), f.lo, f.hi, 200);
  }
}

void CrewRealityController::celebrate(const std::string& sid,
                                      const std::vector<const AgentNode*>& shown,
                                      const std::vector<const AgentNode*>& finished) {
  for (const AgentNode* done : finished) {
    const RobotEntity* star = robotFor({sid, done->id});
    if (star == nullptr) continue;
    const glm::vec3 p = star->worldPos();
    for (const AgentNode* other : shown) {
      if (other == done) continue;
      RobotEntity* robot = robotFor({sid, other->id});
      if (robot == nullptr) continue;
      if (robot->isLounging() && !robot->exitTarget) {
        robot->toastT = 1.4f;
        robot->toastYaw = std::atan2(p.x - robot->worldPos().x, 0.8f);
        robot->say("🎉");
      } else if (other->state != AgentState::done) {
        robot->celebratePeer(p);
      }
    }
  }
}

void CrewRealityController::layoutBench(RobotEntity& robot, int idx, int total, const RoomFrame& f,
                                        float scale) {
  constexpr float sc = kSc;
  robot.setSeated(false, kPi);
  robot.setBuildTarget(std::nullopt, std::nullopt);
  robot.setTerritory(f.walkLo.x, f.walkHi.x, f.walkLo.y, f.walkHi.y);
  const glm::vec2 lo = f.walkLo;
  const glm::vec2 hi = f.walkHi;
  const glm::vec3 couchPt = f.couch;
  if (total > 1) {
    // Pairs facing each other, to the left of the couch.
    robot.clearCouchRoutine();
    float colW = std::max(34 * sc, 65 * sc * scale);
    float g = std::max(13 * sc, 17.16f * sc * scale);
    const int cols = (total + 1) / 2;
    const float a = std::max(couchPt.x - 40 * sc - lo.x, 50 * sc);
    const float w = colW * static_cast<float>(cols - 1) + 2 * g;
    float shrink = 1;
    if (a < w && w > 0) {
      shrink = std::max(a / w, 0.4f);
      colW *= shrink;
      g *= shrink;
    }
    const float half = colW * static_cast<float>(cols - 1) / 2;
    const float cx = std::min(couchPt.x - 34 * sc - half - g,
                              std::max(couchPt.x - 42 * sc, lo.x + 6 * sc + g + half));
    const bool odd = idx % 2 == 1;
    const bool partnerless = idx == total - 1 && !odd;
    float x = cx - half + static_cast<float>(idx / 2) * colW;
    if (odd) {
      x += g;
    } else if (!partnerless) {
      x -= g;
    }
    float y = std::min(hi.y - 10 * sc, std::max(couchPt.y, lo.y + 10 * sc));
    if ((idx / 2) % 2 == 1) y -= 7 * sc;
    if (odd) y -= 3 * sc;
    robot.bodyScaleTarget = std::clamp(scale * shrink, 0.5f, 1.8f);
    robot.setLounge(glm::vec3(x, y, -3 * sc), odd || partnerless ? -1.3f : 1.3f);
    return;
  }
  // A lone lounger fetches a coffee and takes the couch.
  robot.bodyScaleTarget = std::clamp(scale, 0.5f, 1.8f);
  const glm::vec2 spot = glm::clamp(glm::vec2(f.coffee) + glm::vec2(-20 * sc, -14 * sc),
                                    lo + glm::vec2(6 * sc), hi - glm::vec2(6 * sc));
  robot.startCouchRoutine(glm::vec3(spot, -3 * sc),
                          glm::vec3(couchPt.x - 2 * sc, couchPt.y + 10 * sc, 30 * sc),
                          f.couchAngle);
}

void CrewRealityController::ensureLobby(float w, float h) {
  if (lobby_.empty()) {
    for (int i = 0; i < 2; ++i) {
      AgentNode synthetic = AgentNode::make("lobby:" + std::to_string(i), "main", true, {});
      synthetic.state = AgentState::idle;
      auto robot = std::make_unique<RobotEntity>(synthetic, kSc, true, random_);
      robot->attachTo(*sceneAnchor_);
      const glm::vec3 at = worldPoint(w / 2 + (i == 0 ? -16.0f : 16.0f), 0.3f * h, -3 * kSc);
      robot->placeAt(at.x, at.y, at.z);
      lobby_.push_back(std::move(robot));
    }
  }
  const glm::vec3 lo = worldPoint(w / 2 - 70, 0.06f * h);
  const glm::vec3 hi = worldPoint(w / 2 + 70, 0.52f * h);
  for (std::size_t i = 0; i < lobby_.size(); ++i) {
    RobotEntity& robot = *lobby_[i];
    robot.setTerritory(lo.x, hi.x, lo.y, hi.y);
    const glm::vec3 spot = worldPoint(w / 2 + (i == 0 ? -16.0f : 16.0f), 0.3f * h, -3 * kSc);
    // Partners half turned towards each other; a moved spot drops the walk to the old one.
    robot.setLounge(spot, i == 0 ? 0.5f : -0.5f);
  }
}

void CrewRealityController::retireLobby() {
  lobby_.clear();
}

}  // namespace tallyloft
