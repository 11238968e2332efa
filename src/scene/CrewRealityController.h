#pragma once

#include <functional>
#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/Scheduler.h"
#include "crew/CrewModel.h"
#include "entities/DeskEntity.h"
#include "entities/RobotEntity.h"
#include "entities/VacuumBotEntity.h"
#include "graph/Scene.h"
#include "scene/FramePacing.h"
#include "scene/OfficeLayout.h"
#include "scene/RoomProps.h"
#include "scene/ShopSign.h"
#include "scene/TaskBoard.h"

namespace tallyloft {

// The living office: reconciles the scene against the crew model (`sync`) and animates it every
// frame (`frame`). One room per session, side by side across the strip; a desk and a robot per
// shown agent; signs, clocks, boards, doors, coffee corners, couches, bench robots, paper clutter
// and the compaction show; the lobby pair when there are no sessions.
//
// The controller owns its scene and every scene object in it; whoever shows the scene (the
// office panel's render view, or the snapshot command) drives its frames through
// `scene().update(dt)`. Model changes are coalesced: they only mark a pending sync, which the
// next frame runs. "Now" comes from the scheduler, and every random draw from the controller's
// one seeded generator, so a replay on virtual time gives the same office every time.
//
// The crew model and the scheduler must outlive the controller. Main-thread only; needs a
// QGuiApplication.
class CrewRealityController {
 public:
  struct Options {
    bool reduceMotion = false;
    unsigned seed = 1;
  };

  CrewRealityController(CrewModel& crew, Scheduler& scheduler, Options options);
  CrewRealityController(const CrewRealityController&) = delete;
  CrewRealityController& operator=(const CrewRealityController&) = delete;
  ~CrewRealityController();

  Scene& scene() { return scene_; }
  // The shown view's size in points; the layout follows its aspect.
  void setViewSize(float width, float height);
  float referenceWidth() const;

  // Reconciles the scene against the model in one pass.
  void sync();
  // One displayed frame of `dt` seconds (normally called through the scene's update).
  void frame(float dt);

  // Nothing can move: no robots, no live agents, no lobby, no magnifier, not paused.
  bool sceneIsIdle() const;
  // The panel is hidden: frames do nothing. Showing it again schedules a sync and unfreezes.
  void setPaused(bool paused);
  bool paused() const { return paused_; }
  void setLoupeActive(bool on);
  void setReduceMotion(bool on);
  // Frozen: the office was idle for 2 s, or calm for 20 s and its robots have settled, so its
  // owner stops the frame clock and keeps the last picture. A model change, the magnifier, a new
  // size or showing the panel wakes it; while rooms show wall clocks, one frame a minute keeps
  // them right.
  bool frozen() const { return frozen_; }
  // What moves in the office, as of the last frame.
  OfficeActivity activity() const { return activity_; }
  // How long the office has been calm, and whether its robots are settling before it freezes.
  float calmSeconds() const { return calmT_; }
  bool settling() const { return settling_; }
  // Called with true when the frame clock should stop, false when it should run again.
  std::function<void(bool frozen)> onFrozenChanged;
  // Called once per accepted frame, after a pending sync.
  std::function<void()> onFrame;

  // An agent of a session: agent ids are the CLIs' own, and two sessions may use the same one.
  using AgentKey = std::pair<std::string, std::string>;  // session id, agent id

  // A stable view of what the scene holds, keyed by session and agent (for tests, benchmarks
  // and tools).
  const std::map<AgentKey, std::unique_ptr<RobotEntity>>& robots() const { return robots_; }
  const std::vector<std::unique_ptr<RobotEntity>>& dying() const { return dying_; }
  const std::map<AgentKey, std::unique_ptr<DeskEntity>>& desks() const { return desks_; }
  const std::map<AgentKey, int>& deskSlots() const { return deskSlot_; }
  int retiringDeskCount() const { return static_cast<int>(deskRetiring_.size()); }
  const std::vector<std::unique_ptr<RobotEntity>>* bench(const std::string& sid) const;
  const std::vector<std::unique_ptr<RobotEntity>>& lobby() const { return lobby_; }
  std::optional<float> roomScale(const std::string& sid) const;
  std::optional<glm::vec3> doorPosition(const std::string& sid) const;
  std::optional<float> doorAngle(const std::string& sid) const;
  std::optional<std::string> swarmLabel(const std::string& sid) const;
  const ShopSign* sign(const std::string& sid) const;
  // Which of a room's props show, and how its couch stands.
  struct RoomPropsShown {
    bool clock = false;
    bool board = false;
    bool divider = false;
    glm::quat couch{1, 0, 0, 0};
  };
  std::optional<RoomPropsShown> roomProps(const std::string& sid) const;
  // The wall clock's hour, minute and second hands (radians clockwise from twelve).
  std::optional<glm::vec3> clockHands(const std::string& sid) const;
  int paperPileCount(const std::string& sid) const;
  // Where each paper pile stands, in the scene anchor's space.
  std::vector<glm::vec3> paperPilePositions(const std::string& sid) const;
  // The sheets each pile holds now, and the sheets each should hold.
  std::vector<std::pair<int, int>> paperSheets(const std::string& sid) const;
  const VacuumBotEntity* vacuum(const std::string& sid) const;
  std::optional<glm::vec3> mainLinePos(const std::string& sid) const;
  std::optional<glm::vec3> vacuumStation(const std::string& sid) const;
  int flyingSheetCount(const std::string& sid) const;
  int cableCount(const std::string& sid) const;
  // The chain's links grown so far (at least partly).
  int cablesShown(const std::string& sid) const;
  std::optional<float> chainProgress(const std::string& sid) const;
  int fallingSheetCount() const { return static_cast<int>(fallingSheets_.size()); }
  float tickAccumulator() const { return tickAccum_; }
  float swayClock() const { return swayT_; }
  int syncCount() const { return syncs_; }
  int acceptedSteps() const { return steps_; }
  Entity& anchor() { return *sceneAnchor_; }

  // Layout space to the scene anchor's space.
  glm::vec3 worldPoint(float x, float y, float z = 0) const;

 private:
  struct FlyingSheet {
    Entity* e;
    glm::vec3 start;
    float lift;
    glm::vec3 side;
    float dur;
    glm::vec3 spinAxis;
    float spinRate;
    glm::quat baseRot;
    glm::vec3 baseScale;
    float flutterPhase;
    float t = 0;
  };
  struct FallingSheet {
    Entity* e;
    glm::vec3 vel;
    float t;
    glm::vec3 spinAxis;
    float spinRate;
    float phase;
  };
  struct Puff {
    ModelEntity* e;
    glm::vec3 vel;
    float t;
    float dur;
  };
  struct PaperPile {
    Entity* e;
    int sheets;  // how many it should hold
  };
  struct SwarmLabel {
    Entity* e;
    std::string text;
  };
  // Everything a session's room holds, created as the room is laid out and dropped with it.
  struct Room {
    std::unique_ptr<RoomDecor> decor;
    std::unique_ptr<ShopSign> sign;
    std::unique_ptr<SteamColumn> steam;
    std::unique_ptr<DoorEntity> door;
    std::unique_ptr<WallClock> clock;
    std::unique_ptr<TaskBoard> board;
    std::optional<float> doorAngle;
    std::optional<glm::vec3> doorPosition;
    std::optional<std::pair<glm::vec2, glm::vec2>> slotBounds;
    std::optional<SwarmLabel> swarmLabel;
    std::vector<std::unique_ptr<RobotEntity>> bench;
    std::vector<PaperPile> papers;
    std::optional<glm::vec3> paperGeom;
    std::unique_ptr<VacuumBotEntity> vacuum;
    std::unique_ptr<VacuumBotEntity> vacuumExiting;
    std::vector<Entity*> chainCables;
    ModelEntity* chainBead = nullptr;
    std::vector<ModelEntity*> chainTrail;
    std::optional<float> chainT;
    std::vector<FlyingSheet> flyingPapers;
    std::optional<float> vacuumEmitT;
    std::optional<glm::vec3> vacuumStation;
    std::optional<glm::vec3> mainLinePos;
    std::optional<float> roomScale;
  };
  // One room's slot and shape during a sync pass.
  struct RoomFrame {
    float lo, hi, slotW;
    glm::vec3 coffee, couch;
    float couchAngle;
    glm::vec2 walkLo, walkHi;
    float base;
  };

  // sync, per room.
  void layoutRoom(const SessionNode& session, const std::vector<const AgentNode*>& shown, float lo,
                  float hi);
  void placeRoomProps(const SessionNode& session, Room& room, const RoomFrame& f);
  void retireDesk(std::unique_ptr<DeskEntity> desk, const std::string& sid);
  void updateSwarm(Room& room, const std::string& text, float px, float py);
  void dropRoom(Room& room);

  // Coffee corner, bench and lobby.
  bool atCoffee(const AgentNode& agent) const;
  void posture(const SessionNode& session, Room& room, const RoomFrame& f, const AgentNode& agent,
               RobotEntity& robot, glm::vec3 seat, int k, int m);
  void benchStep(const SessionNode& session, Room& room, const RoomFrame& f,
                 const std::vector<const AgentNode*>& shown);
  void celebrate(const std::string& sid, const std::vector<const AgentNode*>& shown,
                 const std::vector<const AgentNode*>& finished);
  void layoutBench(RobotEntity& robot, int idx, int total, const RoomFrame& f, float scale);
  void ensureLobby(float w, float h);
  void retireLobby();

  // Frame effects.
  void unfreeze();
  void freeze();
  OfficeActivity measureActivity() const;
  // Counts calm time, settles the robots after a while and freezes once they are at rest;
  // true when the office has frozen.
  bool settleWhenCalm(float step);
  void setSettling(bool on);
  bool everyRobotAtRest() const;
  // Whether `test` holds for any robot of the office (agents', bench and lobby robots), asked
  // in turn until one answers yes.
  template <typename Test>
  bool anyRobot(Test&& test) const;
  // Turns the wall clocks on by the time spent frozen.
  void catchUpClocks();
  void refreshFrozen();
  void tickDesks(float T);
  void tickLoose(float T);
  void coffeeClink(float T);
  void finishDying();
  void swingDoors(float T);
  void reconcilePapers(const std::string& sid, Room& room, std::int64_t clutter, std::int64_t cap,
                       float x0, float x1, float h);
  std::unique_ptr<ModelEntity> makeSheet(const std::string& seed, int k) const;

  // The compaction show.
  void driveCompaction(const SessionNode& session, float T);
  void clearCompaction(const SessionNode& session, Room& room);
  void feedVacuum(Room& room, VacuumBotEntity& vacuum, float T);
  void layChain(const SessionNode& session, Room& room, VacuumBotEntity& vacuum, float T);
  std::unique_ptr<Entity> makeChainCable() const;
  void placeCable(Entity& cable, glm::vec3 a, glm::vec3 b) const;
  static glm::vec3 cablePoint(glm::vec3 a, glm::vec3 b, float f);
  void spawnPuff(glm::vec3 at);

  float uniform(float low, float high);
  RobotEntity* robotFor(const AgentKey& key) const;

  // The scene goes last: every scene object below removes itself from it when destroyed.
  Scene scene_;
  CrewModel* crew_;
  Scheduler& scheduler_;
  std::mt19937 random_;
  std::size_t observer_ = 0;
  std::size_t updateHandler_ = 0;
  Entity* sceneAnchor_ = nullptr;
  float viewWidth_ = 900;
  float viewHeight_ = 200;

  std::map<AgentKey, std::unique_ptr<RobotEntity>> robots_;
  std::vector<std::unique_ptr<RobotEntity>> dying_;
  std::map<const RobotEntity*, float> exitLane_;  // a leaving robot's x offset from the door
  std::map<AgentKey, AgentState> lastStates_;
  std::map<std::string, Room> rooms_;
  std::map<AgentKey, std::unique_ptr<DeskEntity>> desks_;
  std::map<AgentKey, int> deskSlot_;
  std::vector<std::unique_ptr<RobotEntity>> lobby_;
  std::unique_ptr<DustMotes> dust_;
  struct RetiringDesk {
    std::unique_ptr<DeskEntity> d;
    float t;
  };
  std::vector<RetiringDesk> deskRetiring_;
  std::vector<FallingSheet> fallingSheets_;
  std::vector<Puff> puffs_;
  std::vector<std::string> finishQueue_;  // compactions to report once the frame is done
  std::vector<RobotEntity*> clinkScratch_;
  std::vector<std::pair<std::size_t, std::size_t>> clinkRooms_;
  std::vector<glm::vec3> chainScratch_;
  std::vector<RobotEntity*> chainRobots_;

  float swayT_ = 0;
  float swayShown_ = -1;  // the sway clock the office's turn was last set for
  float clinkCooldown_ = 4;
  bool pendingSync_ = false;
  bool loupeActive_ = false;
  bool paused_ = false;
  float tickAccum_ = 0;
  float idleRecheckT_ = 0;
  bool reduceMotion_ = false;
  bool frozen_ = false;
  float idleSettle_ = 0;
  OfficeActivity activity_ = OfficeActivity::busy;
  float calmT_ = 0;
  float restT_ = 0;
  bool settling_ = false;
  Scheduler::TimePoint frozenAt_{};
  Scheduler::TimerId clockRefresh_ = 0;
  int syncs_ = 0;
  int steps_ = 0;
};

}  // namespace tallyloft
