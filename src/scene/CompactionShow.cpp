// Paper clutter on the room floors, and the compaction show: a cleaning robot vacuums the paper,
// parks by the coffee line and runs a cable through every robot's head until the model has the
// compacted context.
#include <algorithm>
#include <cmath>

#include <glm/gtx/quaternion.hpp>

#include "graph/Motion.h"
#include "scene/CrewRealityController.h"

namespace tallyloft {
namespace {

constexpr float kSc = 0.01f;
constexpr float kTwoPi = 6.28318531f;
constexpr float kLinkTime = 1.1f;
constexpr std::size_t kMaxFlying = 14;
constexpr int kCableSegments = 8;
const Color kCable{0.3f, 0.95f, 0.85f, 1};

}  // namespace

void CrewRealityController::reconcilePapers(const std::string& sid, Room& room,
                                            std::int64_t clutter, std::int64_t cap, float x0,
                                            float x1, float h) {
  const float fill = std::min(
      static_cast<float>(clutter) / static_cast<float>(std::max<std::int64_t>(cap, 1)), 1.0f);
  const int piles = paperPiles(clutter, cap);
  const auto spot = [&](int i) {
    const auto salt = static_cast<std::uint64_t>(i);
    const float a = jitter(sid, 11 + 2 * salt);
    const float b = jitter(sid, 23 + 2 * salt);
    const float r = jitter(sid, 59 + 2 * salt);
    const float x = x0 + (x1 - x0) * ((a + 1) / 2 * 0.88f + 0.06f);
    const float y = h * (std::pow((b + 1) / 2, 1.4f) * 0.6f + 0.07f);
    Transform at;
    at.translation = {(x - referenceWidth() / 2) * kSc, (y - 100) * kSc, 0};
    at.rotation = about(r * 0.14f, {0, 0, 1});
    return at;
  };
  const glm::vec3 geometry(x0, x1, h);
  if (room.paperGeom &&
      glm::any(glm::greaterThan(glm::abs(*room.paperGeom - geometry), glm::vec3(0.5f)))) {
    for (std::size_t i = 0; i < room.papers.size(); ++i)
      room.papers[i].e->move(spot(static_cast<int>(i)), sceneAnchor_, 0.4f,
                             TimingFunction::easeInOut);
  }
  room.paperGeom = geometry;
  while (static_cast<int>(room.papers.size()) > piles) {
    room.papers.back().e->removeFromParent();
    room.papers.pop_back();
  }
  const std::string seedBase = sid + "#";
  // How many sheets pile i holds at the current fill: piles grow as the context fills.
  const auto sheetsFor = [&](int i) {
    const float j = (jitter(sid, 2 * static_cast<std::uint64_t>(i) + 47) + 1) / 2;
    return std::clamp(static_cast<int>(fill * 5) + 4 + static_cast<int>(j * j * 6), 1, 12);
  };
  for (int i = static_cast<int>(room.papers.size()); i < piles; ++i) {
    const int sheets = sheetsFor(i);
    auto pile = std::make_unique<Entity>();
    pile->setStill(true);  // it changes only as it grows, shrinks or moves
    const std::string seed = seedBase + std::to_string(i);
    for (int k = 0; k < sheets; ++k) pile->addChild(makeSheet(seed, k));
    const Transform home = spot(i);
    Transform start = home;
    start.translation.y += 11 * kSc;
    start.scale = glm::vec3(0.35f);
    pile->setTransform(start);
    pile->move(home, sceneAnchor_, 0.45f, TimingFunction::easeOut);
    room.papers.push_back({sceneAnchor_->addChild(std::move(pile)), sheets});
  }
  // A pile with fewer sheets than the fill asks for (it filled up, or lost sheets to the cleaning
  // robot) gains one sheet per pass, dropped from just above its current top.
  for (std::size_t i = 0; i < room.papers.size(); ++i) {
    PaperPile& pile = room.papers[i];
    pile.sheets = sheetsFor(static_cast<int>(i));
    const int have = static_cast<int>(pile.e->children().size());
    if (have >= pile.sheets) continue;
    float top = 0;
    for (const auto& child : pile.e->children()) top = std::max(top, child->position().y);
    auto sheet = makeSheet(seedBase + std::to_string(i), have);
    Transform rest = sheet->transform();
    Transform start = rest;
    start.translation.y = top + 9 * kSc;
    sheet->setTransform(start);
    Entity* added = pile.e->addChild(std::move(sheet));
    added->move(rest, pile.e, 0.35f, TimingFunction::easeOut);
  }
}

std::unique_ptr<ModelEntity> CrewRealityController::makeSheet(const std::string& seed,
                                                              int k) const {
  const auto salt = static_cast<std::uint64_t>(3 * k);
  const float ja = jitter(seed, salt + 1);
  const float jb = jitter(seed, salt + 2);
  const float jc = jitter(seed, salt + 3);
  const float d = static_cast<float>(k % 3) * 0.05f;
  auto sheet = ModelEntity::make(
      generateBox(glm::vec3(8.5f + 2.2f * std::fabs(ja), 1.05f, 10.5f + 2.2f * std::fabs(jb)) * kSc,
                  0.4f * kSc),
      LitMaterial{{0.68f + d, 0.66f + d, 0.6f + d, 1}, 0.9f, false});
  sheet->setPosition(glm::vec3(ja * 2.2f, static_cast<float>(k) * 1.45f, jb * 2.2f) * kSc);
  sheet->setOrientation(about(jc * 0.35f, {0, 1, 0}));
  return sheet;
}

void CrewRealityController::driveCompaction(const SessionNode& session, float T) {
  const auto found = rooms_.find(session.id);
  if (found == rooms_.end()) return;
  Room& room = found->second;
  if (!session.compacting) {
    clearCompaction(session, room);
    return;
  }
  // Arrival.
  if (!room.vacuum) {
    room.vacuum = std::make_unique<VacuumBotEntity>(kSc);
    room.vacuum->attachTo(*sceneAnchor_);
    room.vacuum->root->setPosition(room.doorPosition.value_or(glm::vec3(0, 0, -0.03f)));
    room.vacuum->scaleVal = room.roomScale ? std::max(0.8f * *room.roomScale, 0.3f) : 0.8f;
    // The robot's size follows the room's: in a crowded room its hand and nozzle move with it.
    room.vacuum->root->setScale(glm::vec3(room.vacuum->scaleVal));
    room.chainT = 0;
  }
  VacuumBotEntity& vacuum = *room.vacuum;
  if (!room.papers.empty() || !room.flyingPapers.empty()) {
    feedVacuum(room, vacuum, T);
  } else if (room.mainLinePos) {
    // Parked beside the main agent in the coffee line.
    if (vacuum.vacuumOn || vacuum.deployT >= 0) vacuum.stowVacuum();
    vacuum.speed = 1.6f;
    const glm::vec3 spot = *room.mainLinePos - glm::vec3(0.46f, 0, 0);
    vacuum.moveTo(spot, room.mainLinePos->x);
  }
  vacuum.tick(T);
  layChain(session, room, vacuum, T);

  // Finish: the model has the compacted context and the chain had time to show.
  if (session.compactDelivered && room.chainT.value_or(0) > 2.5f && room.vacuum) {
    room.vacuumExiting = std::move(room.vacuum);
    VacuumBotEntity& leaving = *room.vacuumExiting;
    leaving.speed = 0.9f;
    if (!leaving.leaving) {
      leaving.moveTo(room.doorPosition.value_or(glm::vec3(0, 0, -0.03f)));
      leaving.leaving = true;
    }
    if (std::find(finishQueue_.begin(), finishQueue_.end(), session.id) == finishQueue_.end())
      finishQueue_.push_back(session.id);
  }
}

void CrewRealityController::feedVacuum(Room& room, VacuumBotEntity& vacuum, float T) {
  // The station: left of the main agent's place in line (not past the door), or between the
  // door and the piles.
  glm::vec3 station = room.vacuumStation.value_or(vacuum.root->position());
  if (!room.papers.empty()) {
    glm::vec3 mean(0);
    for (const PaperPile& pile : room.papers) mean += pile.e->position();
    mean /= static_cast<float>(room.papers.size());
    const glm::vec3 door = room.doorPosition.value_or(glm::vec3(0, 0, -0.03f));
    if (room.mainLinePos) {
      station = {std::max(room.mainLinePos->x - 0.6f, door.x + 0.08f), room.mainLinePos->y, mean.z};
    } else {
      station = door + (mean - door) * 0.38f;
      station.z = mean.z;
    }
  }
  room.vacuumStation = station;
  vacuum.speed = 1.7f;
  vacuum.moveTo(station);
  if (vacuum.arrived && !vacuum.vacuumOn) vacuum.startVacuum();

  if (vacuum.vacuumOn) {
    float& nextPick = room.vacuumEmitT.emplace(room.vacuumEmitT.value_or(0));
    nextPick -= T;
    if (nextPick <= 0 && room.flyingPapers.size() < kMaxFlying && !room.papers.empty()) {
      PaperPile& pile = room.papers.back();
      if (!pile.e->children().empty()) {
        Entity* top = pile.e->children().back().get();
        const Transform world = top->transform(sceneAnchor_);
        std::unique_ptr<Entity> sheet = top->removeFromParent();
        sheet->setTransform(world);
        Entity* e = sceneAnchor_->addChild(std::move(sheet));
        // The lift, then a bow sideways and a little toward the camera, drawn in this order.
        const float lift = uniform(20, 38) * kSc;
        const float across = uniform(-9, 9);
        const float deep = uniform(2, 6);
        const glm::vec3 bow = glm::vec3(across, 0, deep) * kSc;
        FlyingSheet flying{e,
                           world.translation,
                           lift,
                           bow,
                           uniform(0.8f, 1.2f),
                           glm::vec3(uniform(-1, 1), uniform(-0.3f, 0.3f), uniform(-1, 1)),
                           uniform(5, 11),
                           world.rotation,
                           world.scale,
                           uniform(0, kTwoPi)};
        if (glm::length(flying.spinAxis) < 1e-4f) flying.spinAxis = {0, 0, 1};
        flying.spinAxis = glm::normalize(flying.spinAxis);
        room.flyingPapers.push_back(flying);
      }
      if (pile.e->children().empty()) {
        pile.e->removeFromParent();
        room.papers.pop_back();
      }
      int left = 0;
      for (const PaperPile& p : room.papers) left += static_cast<int>(p.e->children().size());
      nextPick = std::max(std::min(8.5f / static_cast<float>(std::max(left, 1)), 0.16f), 0.05f);
    }
  }

  const glm::vec3 nozzle = vacuum.mouthMarker->position(sceneAnchor_);
  for (auto it = room.flyingPapers.begin(); it != room.flyingPapers.end();) {
    FlyingSheet& sheet = *it;
    sheet.t += T;
    const float u = std::min(sheet.t / sheet.dur, 1.0f);
    const float e = 1.6f * u * u - 0.6f * u * u * u;
    const glm::vec3 control =
        (sheet.start + nozzle) * 0.5f + glm::vec3(0, sheet.lift, 0) + sheet.side;
    const float v = 1 - e;
    glm::vec3 at = v * v * sheet.start + 2 * v * e * control + e * e * nozzle;
    const float flutter = std::sin(9 * sheet.t + sheet.flutterPhase) * (1 - e);
    at += glm::vec3(flutter * 0.018f, flutter * 0.009f, 0);
    sheet.e->setPosition(at);
    sheet.e->setOrientation(about(sheet.spinRate * sheet.t, sheet.spinAxis) * sheet.baseRot);
    sheet.e->setScale(sheet.baseScale * (1 - 0.62f * e));
    sheet.e->setOpacity(e > 0.8f ? std::max(0.0f, (1 - e) / 0.2f) : 1.0f);
    if (u >= 1) {
      sheet.e->removeFromParent();
      spawnPuff(nozzle);
      vacuum.gulpT = std::min(vacuum.gulpT + 0.6f, 1.3f);
      it = room.flyingPapers.erase(it);
    } else {
      ++it;
    }
  }
}

void CrewRealityController::layChain(const SessionNode& session, Room& room,
                                     VacuumBotEntity& vacuum, float T) {
  // The chain: the cleaning robot's hand, then every shown agent's head.
  chainScratch_.clear();
  chainRobots_.clear();
  chainScratch_.push_back(vacuum.hand->position(sceneAnchor_));
  const auto addHead = [&](const AgentNode& agent) {
    RobotEntity* robot = robotFor({session.id, agent.id});
    if (robot == nullptr) return;
    chainRobots_.push_back(robot);
    chainScratch_.push_back(robot->worldPos() + glm::vec3(0, 20 * robot->s * robot->bodyScale,
                                                          3 * robot->s * robot->bodyScale));
  };
  addHead(session.main);
  for (const AgentNode& sub : session.subagents) addHead(sub);
  const std::size_t links = chainScratch_.size() - 1;
  while (room.chainCables.size() > links) {
    room.chainCables.back()->removeFromParent();
    room.chainCables.pop_back();
  }
  while (room.chainCables.size() < links)
    room.chainCables.push_back(sceneAnchor_->addChild(makeChainCable()));

  float& chainT = room.chainT.emplace(room.chainT.value_or(0));
  if (vacuum.arrived && !vacuum.leaving && room.papers.empty() && room.flyingPapers.empty())
    chainT += T;
  for (std::size_t i = 0; i < links; ++i) {
    const float p =
        std::clamp((chainT - kLinkTime * static_cast<float>(i)) / kLinkTime, 0.0f, 1.0f);
    Entity& cable = *room.chainCables[i];
    cable.setEnabled(p > 0);
    if (p > 0) {
      placeCable(cable, chainScratch_[i],
                 chainScratch_[i] + p * (chainScratch_[i + 1] - chainScratch_[i]));
    }
    if (p < 1) {
      chainRobots_[i]->poseAsleep();
    } else {
      chainRobots_[i]->poseReceiving(chainT / 2 - std::floor(chainT / 2));
    }
  }

  // The bead runs round the finished chain, a short trail behind it.
  const bool running = links >= 1 && chainT >= kLinkTime * static_cast<float>(links);
  if (!running) {
    if (room.chainBead != nullptr) room.chainBead->setEnabled(false);
    for (ModelEntity* dot : room.chainTrail) dot->setEnabled(false);
    return;
  }
  if (room.chainBead == nullptr) {
    room.chainBead = addModel(*sceneAnchor_, generateSphere(0.034f), unlit(palette::white), {});
    const float radii[] = {0.026f, 0.019f};
    const float opacities[] = {0.34f, 0.2f};
    for (int i = 0; i < 2; ++i) {
      room.chainTrail.push_back(
          addModel(*sceneAnchor_, generateSphere(radii[i]), unlit(palette::white), {}));
      room.chainTrail.back()->setOpacity(opacities[i]);
    }
  }
  const float n = static_cast<float>(links);
  const auto beadAt = [&](float along) {
    along = std::fmod(along, n);
    if (along < 0) along += n;
    const auto link = std::min(static_cast<std::size_t>(along), links - 1);
    return cablePoint(chainScratch_[link], chainScratch_[link + 1],
                      along - static_cast<float>(link));
  };
  const float along = 2 * (chainT - kLinkTime * n);
  room.chainBead->setEnabled(true);
  room.chainBead->setPosition(beadAt(along));
  for (std::size_t i = 0; i < room.chainTrail.size(); ++i) {
    room.chainTrail[i]->setEnabled(true);
    room.chainTrail[i]->setPosition(beadAt(along - 0.09f * static_cast<float>(i + 1)));
  }
}

void CrewRealityController::clearCompaction(const SessionNode& session, Room& room) {
  if (!room.chainT && !room.vacuum && room.flyingPapers.empty() && room.chainCables.empty()) return;
  for (Entity* cable : room.chainCables) cable->removeFromParent();
  room.chainCables.clear();
  if (room.chainBead != nullptr) room.chainBead->removeFromParent();
  room.chainBead = nullptr;
  for (ModelEntity* dot : room.chainTrail) dot->removeFromParent();
  room.chainTrail.clear();
  room.chainT.reset();
  for (FlyingSheet& sheet : room.flyingPapers) {
    fallingSheets_.push_back(
        {sheet.e, {0, 0.05f, 0}, 0, sheet.spinAxis, 0.35f * sheet.spinRate, sheet.flutterPhase});
  }
  room.flyingPapers.clear();
  room.vacuumEmitT.reset();
  room.vacuumStation.reset();
  room.mainLinePos.reset();
  // A compaction that ended without the show's finish: the cleaning robot leaves all the same.
  if (room.vacuum) {
    room.vacuumExiting = std::move(room.vacuum);
    room.vacuumExiting->speed = 0.9f;
    room.vacuumExiting->stowVacuum();
    room.vacuumExiting->moveTo(room.doorPosition.value_or(glm::vec3(0, 0, -0.03f)));
    room.vacuumExiting->leaving = true;
  }
  const auto wake = [&](const AgentNode& agent) {
    if (RobotEntity* robot = robotFor({session.id, agent.id})) robot->clearCompactPose();
  };
  wake(session.main);
  for (const AgentNode& sub : session.subagents) wake(sub);
}

std::unique_ptr<Entity> CrewRealityController::makeChainCable() const {
  auto cable = std::make_unique<Entity>();
  for (int i = 0; i < kCableSegments; ++i)
    addModel(*cable, generateBox(glm::vec3(1, 0.9f, 0.9f) * kSc), unlit(kCable), {});
  cable->setEnabled(false);
  return cable;
}

glm::vec3 CrewRealityController::cablePoint(glm::vec3 a, glm::vec3 b, float f) {
  const float sag = std::min(0.12f * glm::distance(a, b), 0.06f);
  return a + (b - a) * f - glm::vec3(0, sag * 4 * f * (1 - f), 0);
}

void CrewRealityController::placeCable(Entity& cable, glm::vec3 a, glm::vec3 b) const {
  const auto& segments = cable.children();
  const float n = static_cast<float>(segments.size());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const glm::vec3 p = cablePoint(a, b, static_cast<float>(i) / n);
    const glm::vec3 q = cablePoint(a, b, static_cast<float>(i + 1) / n);
    const glm::vec3 along = q - p;
    const float length = glm::length(along);
    Entity& segment = *segments[i];
    segment.setPosition((p + q) * 0.5f);
    // The box's x axis runs along the segment.
    if (length > 1e-6f) {
      segment.setOrientation(glm::rotation(glm::vec3(1, 0, 0), along / length));
      segment.setScale({length / kSc, 1, 1});
    } else {
      segment.setScale({1e-4f, 1, 1});
    }
  }
}

void CrewRealityController::spawnPuff(glm::vec3 at) {
  for (int i = 0; i < 6; ++i) {
    const float side = uniform(2, 3.4f) * kSc;
    auto* puff = addModel(*sceneAnchor_, generatePlane(side, side, side / 2), unlit(grey(0.78f)),
                          at + glm::vec3(uniform(-3, 3), uniform(0, 2), uniform(-1, 1)) * kSc);
    puff->setOpacity(0.5f);
    puffs_.push_back(
        {puff, glm::vec3(uniform(-8, 8), uniform(5, 13), 0) * kSc, 0, uniform(0.35f, 0.55f)});
  }
}

}  // namespace tallyloft
