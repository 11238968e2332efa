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

  // Identity and skeleton.
  std::string id;
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

  // Props, motion and timers used by the behaviour.
  bool onPhone = false;
  bool seated = false;
  float sitT = 0;
  float yaw = 0;
  float hop = 0;
  float stretchT = 0;
  float doneSpinT = 0;
  float spinStartYaw = 0;
  float seatFacing = 3.14159265f;
  float footTapT = 0;
  float bobPhase = 0;
  float drinkPhase = 0;
  float thinkBeatT = 0;
  float chatterT = 0;
  float microT = 0;
  float blinkT = 0;
  float gazeTimer = 0;
  float waveT = 1.8f;  // every new robot waves
  float poof = 1;
  float lastDt = 1.0f / 60;
  int lastLit = -1;
  Entity* coffeeMug = nullptr;
  ModelEntity* carryBlock = nullptr;
  CompactPose compactPose = CompactPose::none;

  // Particles.
  std::vector<Particle> particles;
  int particleTick = 0;

  // Face.
  float eyeSX = 1;
  float eyeSY = 1;
  float mouthSX = 1;
  float mouthSY = 0.6f;

 private:
  ModelEntity* add(Entity& parent, MeshDescriptor mesh, Material material, glm::vec3 at);
  std::vector<std::unique_ptr<Entity>> roleGear(Role role);
  std::unique_ptr<Entity> makeMug();
  float uniform(float low, float high);

  std::mt19937* random_;
  std::unique_ptr<Entity> ownedRoot_;
};

}  // namespace tallyloft
