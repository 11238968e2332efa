#pragma once

#include <glm/glm.hpp>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crew/AgentNode.h"
#include "graph/Entity.h"

namespace tallyloft {

enum class BodyShape { humanoid, drone, tank };
enum class Role { explore, plan, review, build, test, general, other };
enum class CompactPose { none, asleep, receiving };

// One live particle of a burst or a tool spark.
struct Particle {
  ModelEntity* e = nullptr;
  glm::vec3 vel{0};
  float g = 0;  // downward acceleration
  float life = 0;
  float maxLife = 0;
};

enum class BurstKind { sparkle, confetti, smoke };

// The body of one agent in the office: a small robot whose shape, role gear and colours come
// from the agent's type. Every length is in robot units: one robot unit is the world scale `s`
// given at construction. In the robot's frame +y is up, +z faces the viewer.
//
// The robot owns its entity tree until `attachTo` hangs `root` into the scene; it then removes
// it again when destroyed. Random draws come from the owner's generator, which must outlive the
// robot. Main-thread only.
class RobotEntity {
 public:
  RobotEntity(const AgentNode& agent, float worldScale, bool decorative, std::mt19937& random);
  RobotEntity(const RobotEntity&) = delete;
  RobotEntity& operator=(const RobotEntity&) = delete;
  ~RobotEntity();

  // What the agent's type makes of the robot (the main agent is a plain humanoid of role other).
  static BodyShape shapeFor(std::string_view type, bool isMain);
  static Role roleFor(std::string_view type, bool isMain);
  static Color typeColor(std::string_view type);
  static Color stateColor(AgentState state);
  static std::string_view roleEmoji(Role role);
  // A 128 x 128 texture of the emoji, drawn once per emoji for the whole process. Needs a
  // QGuiApplication.
  static std::shared_ptr<const Texture> emojiTexture(const std::string& emoji);

  // Hangs `root` into `parent`.
  void attachTo(Entity& parent);
  glm::vec3 worldPos() const { return root->position(); }

  // Re-tints body and head: a faint wash of `color` over light grey. Nothing when unchanged.
  void setBodyTint(const Color& color);
  // The body scale the robot eases towards, at least 0.5.
  void setScale(float factor);
  // Mirrors the agent: state, wait reason, face colour (held 0.9 s from working to thinking),
  // tool, and the bursts of entering done or error.
  void update(const AgentNode& agent);
  // Sets the face (bulb, eyes, mouth) to the state's colour.
  void applyStateColor(AgentState state);
  // Adds a burst of particles (at most 120 live, the oldest removed first).
  void burst(BurstKind kind, const Color& color);
  // Moves, fades and retires the particles.
  void advanceParticles(float dt);

  static constexpr std::size_t kMaxParticles = 120;
  // The head's pivot, in robot units above the body's centre.
  static constexpr float kNeckHeight = 8;

  // Identity and skeleton: the agent's id and its session's (empty for decorative robots).
  std::string id;
  std::string session;
  Entity* root = nullptr;
  Entity* rig = nullptr;
  ModelEntity* body = nullptr;
  ModelEntity* head = nullptr;
  ModelEntity* bulb = nullptr;
  Entity* leftArm = nullptr;
  Entity* rightArm = nullptr;
  Entity* rightHand = nullptr;
  Entity* legLPivot = nullptr;
  Entity* legRPivot = nullptr;
  Entity* antennaPivot = nullptr;
  ModelEntity* shadow = nullptr;
  ModelEntity* leftEye = nullptr;
  ModelEntity* rightEye = nullptr;
  ModelEntity* mouth = nullptr;

  // Agent mirror.
  bool isMain = false;
  float s = 0.01f;
  BodyShape shape = BodyShape::humanoid;
  Role role = Role::other;
  AgentState state = AgentState::thinking;
  WaitReason waitReason = WaitReason::permission;
  std::optional<ToolKind> toolKind;
  AgentState displayedColor = AgentState::thinking;
  float colorHold = 0;
  std::optional<AgentState> lastBurst;

  // Tint and size.
  double tintR = -1;
  double tintG = 0;
  double tintB = 0;
  float bodyScale = 1;
  float bodyScaleTarget = 1;
  float assemble = 0;

  // Phone and banner props.
  Entity* phoneReceiver = nullptr;
  Entity* phoneBase = nullptr;
  ModelEntity* phoneCord = nullptr;
  bool onPhone = false;
  Entity* permBanner = nullptr;
  std::optional<WaitReason> bannerReason;
  float bannerT = 0;

  // Motion.
  float bobPhase = 0, toolPhase = 0, walkPhase = 0, footTapT = 0, hop = 0, yaw = 0, prevYaw = 0,
        bank = 0, armLerp = 0, legLerp = 0, leanX = 0, jPos = 0, jVel = 0, prevX = 0;
  glm::vec2 lastLegPos{0};
  bool seated = false;
  float seatFacing = 3.14159265f;
  float sitT = 0;

  // Territory and targets.
  float minX = 0, maxX = 0, minY = 0, maxY = 0;
  glm::vec2 target{0};
  bool haveTarget = false;
  std::optional<glm::vec3> buildTarget;
  std::optional<glm::vec3> faceTarget;

  // Lounge and couch.
  std::optional<glm::vec3> loungeBase;
  std::optional<glm::vec3> loungeTarget;
  float loungeFacing = 0, loungePause = 0, farLerp = 0, drinkPhase = 0;
  Entity* coffeeMug = nullptr;
  bool returning = false;
  float surpriseT = 0;
  bool wasLounging = false, wasOnCouch = false;
  bool inCouchRoutine = false;
  int couchPhase = 0;
  float couchDwell = 0;
  glm::vec3 couchCoffeeSpot{0};
  glm::vec3 couchSeatPos{0};
  float couchFacing = 0;

  // One-shot gestures.
  float thinkBeatT = 0, thinkBeatDur = 0, stretchT = 0, doneSpinT = 0, spinStartYaw = 0, errAmt = 0,
        waveT = 1.8f /* every new robot waves */, spawnHold = 0, cheerT = 0, cheerLookYaw = 0,
        clinkT = 0, clinkYaw = 0, toastT = 0, toastYaw = 0;
  bool clinkSparked = false;

  // Chatter.
  float chatterT = 0, chatterHold = 0, bubbleT = 0, chatterTiltAmt = 0;
  Entity* chatterBubble = nullptr;
  bool bubbleClosing = false;

  // Idle micro-movements.
  float microT = 0, microDur = 0;
  int microKind = 0;
  float microHeadYaw = 0, microHeadPitch = 0, microYawS = 0, microPitchS = 0;

  // Exit and entrance.
  std::optional<glm::vec3> exitTarget;
  float exitDist0 = 1, exitHold = 0, exitLerp = 0, exitPauseT = 0;
  bool exitThrough = false;
  bool poofing = false;
  float poof = 1, poofScale0 = 1;
  std::optional<glm::vec3> entranceOrigin;

  // Work props.
  ModelEntity* carryBlock = nullptr;
  std::vector<ModelEntity*> dlBars;

  // Compaction.
  CompactPose compactPose = CompactPose::none;
  float asleepEase = 0, wakeShakeT = 0;
  int lastLit = -1;

  // Particles.
  std::vector<Particle> particles;
  int particleTick = 0;
  float emitTimer = 0;

  // Face.
  float eyeSX = 1, eyeSY = 1, eyeRot = 0, eyeOY = 0, mouthSX = 1, mouthSY = 0.6f, mouthOY = 0;
  float blinkT = 0, blinkDur = 0, gazeX = 0, gazeY = 0, gazeTX = 0, gazeTY = 0, gazeTimer = 0;

  // Bookkeeping.
  float lastDt = 1.0f / 60;
  bool walking = false;  // it moved on its last tick

  // The office is calm and about to stop its frame clock: the robot starts nothing new (no
  // chatter, sip, wander, blink, glance or fidget of the head) and finishes what it is doing.
  bool settling = false;
  // Nothing about the robot changes any more while nothing outside it does (checked while
  // settling).
  bool atRest() const;

  // Behaviour: what the scene controller calls (main thread).
  void placeAt(float x, float y, float z);
  void setTerritory(float minX, float maxX, float minY, float maxY);
  void setBuildTarget(std::optional<glm::vec3> seat, std::optional<glm::vec3> faceToward);
  void setSeated(bool seated, float facing);
  void setLounge(std::optional<glm::vec3> spot, float facing);
  void clearCouchRoutine();
  // Fetch a coffee at `coffeeSpot`, then sit on the couch at `seat` facing `facing`; a routine
  // already running keeps its phase and only takes the new spots.
  void startCouchRoutine(glm::vec3 coffeeSpot, glm::vec3 seat, float facing);
  void recruitFromCoffee(glm::vec3 p);
  void beginEntrance();
  void setSpawnHold(float seconds);
  void setExit(glm::vec3 door, float hold);
  void refreshExit(glm::vec3 door, float minX, float maxX, float minY, float maxY);
  void triggerHop() { hop = 1; }
  void clink(glm::vec3 peer);
  void startPoof();
  void poseAsleep();
  void poseReceiving(float progress);
  void clearCompactPose();
  bool isLounging() const { return loungeBase.has_value(); }
  // One frame of behaviour.
  void tick(float dt);

  // Expressions.
  // Shows a speech bubble with `text`, or a random chatter line or emoji.
  void say(const std::optional<std::string>& text);
  // `count` sparks of `color` at `at` (robot units from the root), rising at a speed in `up`.
  void emitSparks(int count, const Color& color, glm::vec2 up, float g, float life, float size,
                  glm::vec3 at);
  // One spark in the colour of the current tool.
  void emitToolParticle();
  // The sign above a waiting agent.
  std::unique_ptr<Entity> makeWaitBanner(WaitReason reason);
  // Adds or removes the phone props to match `onPhone`.
  void setPhoneProps();
  // Cheers towards a peer at `peer` (scene coordinates).
  void celebratePeer(glm::vec3 peer);
  // A bubble holding the emoji, or nothing when it is not one.
  std::unique_ptr<Entity> emojiBubble(const std::string& emoji);

  static const std::vector<std::string>& chatterLines();
  static const std::vector<std::string>& chatterEmoji();

 private:
  ModelEntity* add(Entity& parent, MeshDescriptor mesh, Material material, glm::vec3 at);
  std::vector<std::unique_ptr<Entity>> roleGear(Role role);
  std::unique_ptr<Entity> makeMug();
  std::unique_ptr<Entity> textBubble(const std::string& text, float fontSize);
  float uniform(float low, float high);
  bool territoryUsable() const { return maxX > minX; }
  // Steps the root towards `goal` by at most `step`; returns the distance walked.
  float stepTowards(glm::vec2 goal, float step);
  void turnTowards(float goalYaw, float rate, float dt);
  void updateExit(float dt, bool& moved, float& walked);
  void updateBanner(float dt, bool exiting);
  void updateBubble(float dt);
  void poseBody(float dt, bool moved, float walked, bool exiting);
  void layPhoneCord();
  void retireParticle(std::size_t index);
  void spawnParticle(const Color& color, glm::vec3 from, glm::vec3 velocity, float g, float life,
                     float size);
  static Material sparkMaterial(const Color& color);

  std::mt19937* random_;
  std::unique_ptr<Entity> ownedRoot_;
  std::vector<ModelEntity*> sparkPool_;  // retired sparks, reused before new ones are made
  Entity* head_ = nullptr;               // head pivot: the head and its face turn together
  float eyeBaseY_ = 18.8f;  // the eyes' height on the face, robot units above the body's centre
  glm::quat headRest_{1, 0, 0, 0};
};

}  // namespace tallyloft
