#pragma once

#include <ctime>
#include <random>
#include <vector>

#include "graph/SceneObject.h"

namespace tallyloft {

// A room's decoration: wall band, poster (rooms wider than 300 layout units), divider, coffee
// corner, couch and corner furniture. Sizes are multiples of the world scale sc (0.01: one
// layout unit). Main-thread only; needs a QGuiApplication.
class RoomDecor : public SceneObject {
 public:
  // Whether a room of this size needs its decoration rebuilt: a change of more than 0.5 layout
  // units, or nothing built yet.
  bool needsRebuild(float slotW, float h) const;

  Entity* signWall = nullptr;
  Entity* poster = nullptr;
  Entity* coffee = nullptr;
  Entity* couch = nullptr;
  Entity* decorL = nullptr;
  Entity* decorR = nullptr;
  ModelEntity* divider = nullptr;
  float builtSlotW = -1;
  float builtH = -1;
};

// Replaces every piece of `decor` with pieces for a room `slotW` × `h` layout units.
void rebuildRoom(RoomDecor& decor, float slotW, float h, float sc);

// A room's door: a dark opening in a wooden frame, the leaf hung on `hinge` at one jamb.
class DoorEntity : public SceneObject {
 public:
  explicit DoorEntity(float worldScale) : s(worldScale) { root->name = "door"; }
  // Builds the door for a doorway `width` × `height` (world units); nothing when unchanged.
  void setSize(float width, float height);
  // Turns the leaf: 0 closed, −1.4 rad fully open.
  void setSwing(float angle);

  Entity* hinge = nullptr;
  float s;
  float builtW = -1, builtH = -1;
  float lastSwing = 0;
  int builds = 0;  // how often the door was (re)built
};

// A wall clock showing local time: a painted face and three hands on pivots at its centre.
class WallClock : public SceneObject {
 public:
  WallClock(float worldScale, double startSeconds);
  // Seconds since local midnight now.
  static double localSecondsOfDay(std::time_t now = std::time(nullptr));
  // Advances the time shown and turns the hands (continuously).
  void tick(float dt);
  // Hand angles in radians, clockwise from twelve: hour, minute, second.
  glm::vec3 handAngles() const;

  Entity* hourPivot = nullptr;
  Entity* minPivot = nullptr;
  Entity* secPivot = nullptr;
  double t;
};

// Steam rising from the coffee: round puffs that rise, sway, grow and fade, then start again.
class SteamColumn : public SceneObject {
 public:
  SteamColumn(float worldScale, const std::vector<glm::vec3>& sources, std::mt19937& random);
  void tick(float dt);

  struct Puff {
    ModelEntity* e;
    glm::vec3 base;
    float t;
    float dur;
    float drift;
  };
  float s;
  std::vector<Puff> puffs;
  int opacityTick = 0;

 private:
  void restart(Puff& puff);
  std::mt19937* random_;
};

// Dust drifting over the whole strip, twinkling.
class DustMotes : public SceneObject {
 public:
  DustMotes(float worldScale, int count, std::mt19937& random);
  // The strip's half extents; the first call scatters the motes over it.
  void setBounds(float halfWidth, float halfHeight);
  void tick(float dt);

  struct Mote {
    ModelEntity* e;
    float x, y, z, drift, rise, ph, tw, baseOp;
  };
  float s;
  std::vector<Mote> motes;
  float halfW = 1, halfH = 1;
  bool seeded = false;
  int opacityTick = 0;

 private:
  std::mt19937* random_;
};

}  // namespace tallyloft
