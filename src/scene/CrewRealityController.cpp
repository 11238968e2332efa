#include "scene/CrewRealityController.h"

#include <algorithm>
#include <cmath>

#include "graph/Motion.h"
#include "graph/OfficeRig.h"
#include "graph/TextEntity.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kSc = 0.01f;  // world scale of every scene object: one layout unit
constexpr std::size_t kSwarmCap = 12;
constexpr float kDeskAngle = -1.0f;
constexpr float kRestingTilt = -0.05f;

}  // namespace

CrewRealityController::CrewRealityController(CrewModel& crew, Scheduler& scheduler, Options options)
    : crew_(&crew), scheduler_(scheduler), random_(options.seed) {
  sceneAnchor_ = scene_.addAnchor();
  sceneAnchor_->name = "office";
  sceneAnchor_->setOrientation(about(kRestingTilt, {1, 0, 0}));
  addOfficeCameraAndLights(scene_);
  dust_ = std::make_unique<DustMotes>(kSc, 28, random_);
  dust_->attachTo(*sceneAnchor_);
  setReduceMotion(options.reduceMotion);
  updateHandler_ = scene_.subscribeUpdate([this](double dt) { frame(static_cast<float>(dt)); });
  observer_ = crew.observe([this] {
    unfreeze();
    pendingSync_ = true;
  });
  sync();
}

CrewRealityController::~CrewRealityController() {
  if (crew_ != nullptr) crew_->unobserve(observer_);
  if (clockRefresh_ != 0) scheduler_.cancel(clockRefresh_);
  scene_.unsubscribeUpdate(updateHandler_);
}

void CrewRealityController::setViewSize(float width, float height) {
  if (width == viewWidth_ && height == viewHeight_) return;
  viewWidth_ = width;
  viewHeight_ = height;
  unfreeze();  // the layout changes with the size
  pendingSync_ = true;
}

float CrewRealityController::referenceWidth() const {
  return viewHeight_ > 1 ? viewWidth_ * 200 / viewHeight_ : viewWidth_;
}

glm::vec3 CrewRealityController::worldPoint(float x, float y, float z) const {
  return {(x - referenceWidth() / 2) * kSc, (y - 100) * kSc, z};
}

void CrewRealityController::setReduceMotion(bool on) {
  reduceMotion_ = on;
  swayShown_ = -1;  // set again at the next step
  dust_->root->setEnabled(!on);
  if (on) sceneAnchor_->setOrientation(about(kRestingTilt, {1, 0, 0}));
}

void CrewRealityController::setPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (!paused) {
    pendingSync_ = true;
    tickAccum_ = 0;
    unfreeze();
  }
}

void CrewRealityController::setLoupeActive(bool on) {
  if (on == loupeActive_) return;
  loupeActive_ = on;
  if (on) unfreeze();
}

float CrewRealityController::uniform(float low, float high) {
  return std::uniform_real_distribution<float>(low, high)(random_);
}

RobotEntity* CrewRealityController::robotFor(const AgentKey& key) const {
  const auto it = robots_.find(key);
  return it == robots_.end() ? nullptr : it->second.get();
}

void CrewRealityController::sync() {
  if (crew_ == nullptr) return;
  ++syncs_;
  const std::vector<SessionNode>& sessions = crew_->sessions();
  const float rw = referenceWidth();
  dust_->setBounds(rw * kSc * 0.5f, 1.0f);

  // Shown agents: the main agent and its subagents, at most twelve; none while leaving.
  std::vector<std::vector<const AgentNode*>> shown(sessions.size());
  std::set<AgentKey> live;
  std::set<std::string> present;
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    const SessionNode& session = sessions[i];
    present.insert(session.id);
    if (session.leaving) continue;
    shown[i].push_back(&session.main);
    for (const AgentNode& sub : session.subagents) {
      if (shown[i].size() >= kSwarmCap) break;
      shown[i].push_back(&sub);
    }
    for (const AgentNode* agent : shown[i]) live.insert({session.id, agent->id});
  }

  // Departures: up to three side by side through the door, later ones waiting in 0.45 s steps.
  std::map<std::string, int> leavingPerRoom;
  for (auto it = robots_.begin(); it != robots_.end();) {
    if (live.count(it->first) != 0) {
      ++it;
      continue;
    }
    std::unique_ptr<RobotEntity> robot = std::move(it->second);
    lastStates_.erase(it->first);
    robot->clearCompactPose();
    const std::string& sid = it->first.first;
    const auto room = rooms_.find(sid);
    if (room != rooms_.end() && room->second.doorPosition) {
      const int k = leavingPerRoom[sid]++;
      const float lane = static_cast<float>(k % 3 - 1) * 0.04f;
      exitLane_[robot.get()] = lane;
      robot->setExit(*room->second.doorPosition + glm::vec3(lane, 0, 0),
                     static_cast<float>(k) * 0.45f);
    } else {
      robot->startPoof();
    }
    dying_.push_back(std::move(robot));
    it = robots_.erase(it);
  }
  std::set<AgentKey> dyingIds;
  for (const auto& robot : dying_) dyingIds.insert({robot->session, robot->id});

  // Rooms, labels and props of sessions that are gone.
  for (auto it = rooms_.begin(); it != rooms_.end();) {
    if (present.count(it->first) != 0) {
      ++it;
      continue;
    }
    dropRoom(it->second);
    it = rooms_.erase(it);
  }

  // Desks of agents that are gone, once their robot has left too.
  for (auto it = desks_.begin(); it != desks_.end();) {
    if (live.count(it->first) != 0 || dyingIds.count(it->first) != 0) {
      ++it;
      continue;
    }
    retireDesk(std::move(it->second), it->first.first);
    it = desks_.erase(it);
  }
  for (auto it = deskSlot_.begin(); it != deskSlot_.end();) {
    const bool keep = live.count(it->first) != 0 || dyingIds.count(it->first) != 0;
    it = keep ? std::next(it) : deskSlot_.erase(it);
  }

  if (!sessions.empty()) retireLobby();
  if (rw > 1) {
    if (sessions.empty()) {
      ensureLobby(rw, 200);
    } else {
      const float n = static_cast<float>(sessions.size());
      for (std::size_t i = 0; i < sessions.size(); ++i) {
        const float lo = rw / n * static_cast<float>(i);
        const float hi = rw / n * static_cast<float>(i + 1);
        layoutRoom(sessions[i], shown[i], lo, hi);
      }
    }
  }

  // Leaving robots follow their room's door. One whose room has gone keeps walking to where its
  // door was, whether or not other rooms remain; only one that never set out shrinks away.
  for (const auto& robot : dying_) {
    const auto room = rooms_.find(robot->session);
    if (room != rooms_.end() && room->second.doorPosition && room->second.slotBounds) {
      // Re-aimed at the door where it is now, each keeping its lane.
      const auto& [lo, hi] = *room->second.slotBounds;
      const auto lane = exitLane_.find(robot.get());
      const float dx = lane == exitLane_.end() ? 0 : lane->second;
      robot->refreshExit(*room->second.doorPosition + glm::vec3(dx, 0, 0), lo.x, hi.x, lo.y, hi.y);
    } else if (!robot->poofing && !robot->exitTarget) {
      robot->startPoof();
    }
  }
}

void CrewRealityController::dropRoom(Room& room) {
  for (PaperPile& pile : room.papers) pile.e->removeFromParent();
  for (Entity* cable : room.chainCables) cable->removeFromParent();
  if (room.chainBead != nullptr) room.chainBead->removeFromParent();
  for (ModelEntity* dot : room.chainTrail) dot->removeFromParent();
  for (FlyingSheet& sheet : room.flyingPapers) sheet.e->removeFromParent();
  if (room.swarmLabel) room.swarmLabel->e->removeFromParent();
}

void CrewRealityController::layoutRoom(const SessionNode& session,
                                       const std::vector<const AgentNode*>& shown, float lo,
                                       float hi) {
  const std::string& sid = session.id;
  Room& room = rooms_[sid];
  const float rw = referenceWidth();
  const float slotW = hi - lo;

  // Desk slots: kept while an agent lives; newcomers take the smallest free index.
  std::vector<AgentKey> needing;
  for (const AgentNode* agent : shown) needing.emplace_back(sid, agent->id);
  for (const auto& robot : dying_) {
    const AgentKey key{robot->session, robot->id};
    if (key.first == sid && std::find(needing.begin(), needing.end(), key) == needing.end())
      needing.push_back(key);
  }
  std::set<int> used;
  for (const AgentKey& key : needing) {
    if (const auto it = deskSlot_.find(key); it != deskSlot_.end()) used.insert(it->second);
  }
  int largest = 0;
  for (const AgentKey& key : needing) {
    auto it = deskSlot_.find(key);
    if (it == deskSlot_.end()) {
      int free = 0;
      while (used.count(free) != 0) ++free;
      used.insert(free);
      it = deskSlot_.emplace(key, free).first;
    }
    largest = std::max(largest, it->second);
  }
  const int deskCount = needing.empty() ? 1 : largest + 1;
  const RoomRows rows = layoutRows(deskCount, lo, slotW);
  const float base = rows.base;
  room.roomScale = 1.2f * base;

  RoomFrame f{};
  f.lo = lo;
  f.hi = hi;
  f.slotW = slotW;
  f.base = base;
  const float left = lo + 6;
  const float right = std::max(hi - 6, left);
  f.walkLo = glm::vec2(worldPoint(left, 12));
  f.walkHi = glm::vec2(worldPoint(right, 136));
  f.coffee = worldPoint(lo + 0.78f * slotW, 164, -0.034f);
  f.couch = worldPoint(lo + 0.93f * slotW, 110, -0.03f);
  f.couchAngle = std::atan2(f.couch.x, kCameraDistance) - kPi / 2;
  placeRoomProps(session, room, f);

  // Agents at their desks.
  const int rowCount = static_cast<int>(rows.rows.size());
  std::vector<const AgentNode*> finished;
  int shownSubagents = 0;
  for (const AgentNode* agent : shown) shownSubagents += agent->isMain ? 0 : 1;
  for (std::size_t k = 0; k < shown.size(); ++k) {
    const AgentNode& agent = *shown[k];
    const AgentKey key{sid, agent.id};
    const int slot = deskSlot_.at(key);
    const auto [r, c] = rows.place(slot);
    const RoomRows::Row& row = rows.rows[static_cast<std::size_t>(r)];
    const float t = rowCount > 1 ? static_cast<float>(r) / static_cast<float>(rowCount - 1) : 0;
    const float gapX = std::min(std::max(row.pitch - 124 * base, 0.0f), 124 * base);
    const float rowsF = static_cast<float>(rowCount);
    const float gapY = std::min(std::max(124 / rowsF - 100 * base, 0.0f), 100 * base);
    const glm::vec3 p =
        worldPoint(row.x0 + row.pitch * static_cast<float>(c) + jitter(agent.id, 1) * gapX * 0.4f,
                   (124 / rowsF) * static_cast<float>(r) + 38 + jitter(agent.id, 2) * gapY * 0.4f);
    const float zRow = (-3 - 9 * t) * kSc;
    const float ds = 1.2f * base * (1 - 0.12f * t);

    auto desk = desks_.find(key);
    if (desk == desks_.end()) {
      auto made = std::make_unique<DeskEntity>(kSc, random_);
      made->attachTo(*sceneAnchor_);
      made->setAngle(kDeskAngle);
      made->snap({(hi + 80 - rw / 2) * kSc, p.y, zRow}, ds);
      desk = desks_.emplace(key, std::move(made)).first;
    }
    desk->second->setAngle(kDeskAngle);
    desk->second->glide({p.x, p.y, zRow}, ds);
    desk->second->setScreen(deskText(agent), agent.state,
                            agent.state == AgentState::working ? agent.currentTool : std::nullopt);
    const glm::vec3 seat = glm::vec3(p.x, p.y + 0.12f * ds, zRow) +
                           about(kDeskAngle, {0, 1, 0}) * glm::vec3(0, -0.05f * ds, 0.02f * ds);

    RobotEntity* robot = robotFor(key);
    if (robot == nullptr) {
      auto made = std::make_unique<RobotEntity>(agent, kSc, false, random_);
      made->session = sid;
      made->attachTo(*sceneAnchor_);
      robot = made.get();
      robots_.emplace(key, std::move(made));
      const glm::vec3 door = *room.doorPosition;
      if (!agent.isMain && shownSubagents < 4) {
        glm::vec3 from = f.coffee;
        if (!room.bench.empty()) {
          from = room.bench.back()->worldPos();
          room.bench.pop_back();
        }
        robot->recruitFromCoffee(from);
      } else {
        robot->placeAt(door.x, door.y, door.z);
        robot->beginEntrance();
        robot->setSpawnHold(agent.isMain ? 0.6f : 0.4f + 0.12f * static_cast<float>(k));
      }
    }
    robot->update(agent);
    robot->setBodyTint(sessionHue(sid));
    robot->setScale(ds);
    robot->setTerritory(f.walkLo.x, f.walkHi.x, f.walkLo.y, f.walkHi.y);
    posture(session, room, f, agent, *robot, seat, static_cast<int>(k),
            static_cast<int>(shown.size()));
    const auto last = lastStates_.find(key);
    if ((last == lastStates_.end() || last->second != agent.state) &&
        agent.state == AgentState::done) {
      robot->triggerHop();
      finished.push_back(&agent);
    }
    lastStates_[key] = agent.state;
  }
  benchStep(session, room, f, shown);
  celebrate(sid, shown, finished);
}

void CrewRealityController::placeRoomProps(const SessionNode& session, Room& room,
                                           const RoomFrame& f) {
  const float lo = f.lo, hi = f.hi, slotW = f.slotW;
  if (!room.decor) {
    room.decor = std::make_unique<RoomDecor>();
    room.decor->root->setStill(true);  // walls, floor and furniture: the still layer
    room.decor->attachTo(*sceneAnchor_);
  }
  RoomDecor& decor = *room.decor;
  if (decor.needsRebuild(slotW, 200)) rebuildRoom(decor, slotW, 200, kSc);
  decor.divider->setEnabled(lo > 0.5f);
  decor.divider->setPosition(worldPoint(lo, 100, -0.035f));
  decor.signWall->setPosition(worldPoint((lo + hi) / 2, 176, -0.04f));

  if (!room.sign) {
    room.sign = std::make_unique<ShopSign>(kSc, session.projectName());
    room.sign->root->setStill(true);  // it moves only as it drops in and when its count changes
    room.sign->attachTo(*sceneAnchor_);
  }
  room.sign->setName(session.projectName());
  room.sign->setSessionColor(sessionHue(session.id));
  room.sign->setAgentCount(static_cast<int>(session.subagents.size()) + 1);
  room.sign->setPosition(worldPoint((lo + hi) / 2, 172, -0.01f));

  if (!room.clock) {
    room.clock = std::make_unique<WallClock>(
        kSc,
        WallClock::localSecondsOfDay(Scheduler::TimePoint::clock::to_time_t(scheduler_.now())));
    room.clock->attachTo(*sceneAnchor_);
  }
  room.clock->root->setEnabled(slotW > 420);
  if (slotW > 420) {
    room.clock->root->setPosition(worldPoint(lo + 0.2f * slotW, 177, -0.035f));
    room.clock->root->setScale(glm::vec3(1.15f));
  }

  if (!room.board) {
    room.board = std::make_unique<TaskBoard>(kSc);
    room.board->attachTo(*sceneAnchor_);
  }
  room.board->root->setEnabled(slotW > 280);
  if (slotW > 280) {
    room.board->setTask(session.currentTask);
    room.board->root->setPosition(
        worldPoint(lo + slotW * (slotW > 420 ? 0.34f : 0.3f), 177, -0.035f));
  }

  const int agents = static_cast<int>(session.subagents.size()) + 1;
  if (agents > static_cast<int>(kSwarmCap)) {
    updateSwarm(room, "+" + std::to_string(agents - static_cast<int>(kSwarmCap)) + " more", hi - 60,
                172);
  } else if (room.swarmLabel) {
    room.swarmLabel->e->removeFromParent();
    room.swarmLabel.reset();
  }

  decor.coffee->setPosition(f.coffee);
  decor.couch->setPosition(f.couch);
  // Turned toward the camera about Y, then tipped back about the world X axis.
  decor.couch->setOrientation(about(0.7f, {1, 0, 0}) * about(f.couchAngle, {0, 1, 0}));
  decor.decorL->setPosition(worldPoint(lo + 0.03f * slotW, 34, 0.06f));
  decor.decorR->setPosition(worldPoint(lo + 0.96f * slotW, 34, 0.06f));
  decor.decorL->setScale(glm::vec3(f.base));
  decor.decorR->setScale(glm::vec3(f.base));
  if (!room.steam) {
    room.steam = std::make_unique<SteamColumn>(
        kSc, std::vector<glm::vec3>{glm::vec3(-4, 16, 3), glm::vec3(4, 14, 3)}, random_);
    room.steam->attachTo(*sceneAnchor_);
  }
  room.steam->root->setPosition(f.coffee + glm::vec3(0, 0, 0.003f));
  room.steam->root->setScale(glm::vec3(1.5f));

  const float doorX = lo + 0.018f * slotW + 15;
  if (!room.door) {
    room.door = std::make_unique<DoorEntity>(kSc);
    room.door->root->setStill(true);  // swung only while a robot passes
    room.door->attachTo(*sceneAnchor_);
  }
  room.door->setSize(0.3f, 0.44f);
  room.door->root->setPosition(worldPoint(doorX, 176, -0.035f));
  room.doorPosition = worldPoint(doorX, 172, -0.03f);
  room.slotBounds = std::make_pair(f.walkLo, f.walkHi);
}

void CrewRealityController::retireDesk(std::unique_ptr<DeskEntity> desk, const std::string& sid) {
  const glm::vec3 at = desk->root->position();
  float x = at.x;
  if (const auto room = rooms_.find(sid); room != rooms_.end() && room->second.slotBounds)
    x = room->second.slotBounds->second.x;
  desk->glide({x + 0.9f, at.y, at.z}, std::max(desk->lastScale, 0.05f));
  deskRetiring_.push_back({std::move(desk), 0.7f});
}

void CrewRealityController::updateSwarm(Room& room, const std::string& text, float px, float py) {
  const glm::vec3 at = worldPoint(px, py);
  if (room.swarmLabel && room.swarmLabel->text == text) {
    room.swarmLabel->e->setPosition(at);
    return;
  }
  if (room.swarmLabel) room.swarmLabel->e->removeFromParent();
  auto holder = std::make_unique<Entity>();
  auto label = centredText(text, {0.065f, 600, false}, 0.0013f, palette::yellow, glm::vec3(0));
  const BoundingBox bounds = meshBounds(label->mesh);
  const glm::vec3 size = bounds.max - bounds.min;
  auto* back = addModel(
      *holder, generatePlane(size.x + 0.0715f, size.y + 0.0585f, 0.45f * (size.y + 0.0585f)),
      unlit(grey(0.06f)), {0, 0, -0.002f});
  back->setOpacity(0.6f);
  holder->addChild(std::move(label));
  holder->setPosition(at);
  room.swarmLabel = SwarmLabel{sceneAnchor_->addChild(std::move(holder)), text};
}

}  // namespace tallyloft

namespace tallyloft {}  // namespace tallyloft
