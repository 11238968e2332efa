#include "scene/RoomProps.h"

#include "graph/Motion.h"

#include <QImage>
#include <QPainter>
#include <cmath>
#include <glm/gtc/quaternion.hpp>

#include "graph/TextEntity.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;

LitMaterial lit(Color color, float roughness = 0.7f) {
  return {color, roughness, false};
}

// Builds furniture from boxes given in units of `u` (a scaled world scale).
struct Builder {
  Entity& into;
  float u;
  ModelEntity* box(glm::vec3 size, glm::vec3 at, Material material, float radius = 0.3f) {
    auto part = ModelEntity::make(generateBox(size * u, radius * u), std::move(material));
    part->setPosition(at * u);
    return into.addChild(std::move(part));
  }
  ModelEntity* sphere(float radius, glm::vec3 at, Material material) {
    auto part = ModelEntity::make(generateSphere(radius * u), std::move(material));
    part->setPosition(at * u);
    return into.addChild(std::move(part));
  }
};

std::unique_ptr<Entity> makePlant(float u) {
  auto plant = std::make_unique<Entity>();
  Builder b{*plant, u};
  const Color pot{0.72f, 0.4f, 0.26f, 1};
  b.box({6, 6, 6}, {0, 3, 0}, lit(pot, 0.8f), 0.8f);
  b.box({6.6f, 1.2f, 6.6f}, {0, 6.2f, 0}, lit(pot, 0.8f), 0.4f);
  b.box({3, 7, 3}, {-1.5f, 10, 0}, lit({0.28f, 0.6f, 0.3f, 1}, 0.8f), 1.2f);
  b.box({3, 9, 3}, {1.5f, 11, 0.5f}, lit({0.32f, 0.66f, 0.34f, 1}, 0.8f), 1.2f);
  b.box({3, 6, 3}, {0, 9.5f, -1.5f}, lit({0.25f, 0.55f, 0.28f, 1}, 0.8f), 1.2f);
  b.box({2.4f, 5, 2.4f}, {0.5f, 13, 1}, lit({0.36f, 0.7f, 0.38f, 1}, 0.8f), 1);
  return plant;
}

std::unique_ptr<Entity> makeWaterCooler(float u) {
  auto cooler = std::make_unique<Entity>();
  Builder b{*cooler, u};
  b.box({8, 14, 8}, {0, 7, 0}, lit(grey(0.93f), 0.4f), 1);
  b.box({6, 7, 6}, {0, 18, 0}, lit({0.55f, 0.78f, 0.92f, 1}, 0.2f), 2.4f);
  b.box({4.6f, 1.4f, 4.6f}, {0, 22, 0}, lit({0.5f, 0.72f, 0.86f, 1}, 0.2f), 0.6f);
  b.box({1.2f, 1.2f, 1.6f}, {0, 10, 4.4f}, lit(grey(0.45f), 0.4f), 0.3f);
  return cooler;
}

std::unique_ptr<Entity> makeFilingCabinet(float u) {
  auto cabinet = std::make_unique<Entity>();
  Builder b{*cabinet, u};
  const Color steel{0.44f, 0.47f, 0.52f, 1};
  b.box({10, 18, 9}, {0, 9, 0}, lit(steel, 0.5f), 0.6f);
  b.box({9, 7.6f, 0.6f}, {0, 13.5f, 4.6f}, lit({0.52f, 0.55f, 0.6f, 1}, 0.5f), 0.3f);
  b.box({9, 7.6f, 0.6f}, {0, 5, 4.6f}, lit({0.52f, 0.55f, 0.6f, 1}, 0.5f), 0.3f);
  b.box({3, 0.8f, 0.8f}, {0, 13.5f, 5.1f}, lit(grey(0.8f), 0.3f), 0.2f);
  return cabinet;
}

std::unique_ptr<Entity> makeCoffeeCorner(float u) {
  auto corner = std::make_unique<Entity>();
  Builder b{*corner, u};
  const Color light = grey(0.7f);
  const Color dark = grey(0.16f);
  const Color coffee{0.36f, 0.22f, 0.13f, 1};
  b.box({22, 2, 12}, {0, 0, 0}, lit(light, 0.5f));             // counter top
  b.box({20, 10, 11}, {0, -6, 0}, lit(grey(0.25f), 0.7f));     // cabinet
  b.box({10, 13, 8}, {-4, 7.5f, -1}, lit(dark, 0.4f), 1);      // machine
  b.box({8, 3, 1}, {-4, 11, 3.1f}, lit(grey(0.92f), 0.3f));    // panel
  b.box({1, 1, 0.4f}, {-6, 11, 3.7f}, unlit(palette::green));  // lights
  b.box({1, 1, 0.4f}, {-4.4f, 11, 3.7f}, unlit(palette::red));
  b.box({3, 2.6f, 1}, {-4, 5.4f, 2.8f}, lit(dark, 0.4f));                 // spout
  b.box({2.6f, 3, 2.6f}, {-4, 2.6f, 1.6f}, lit(grey(0.9f), 0.3f), 0.8f);  // cup
  b.box({2, 0.3f, 2}, {-4, 4.1f, 1.6f}, lit(coffee, 0.2f), 0.6f);
  b.box({4, 6, 4}, {5, 4, -1}, lit(grey(0.92f), 0.3f), 1.4f);  // jar
  b.box({3.2f, 2, 3.2f}, {5, 2.4f, -1}, lit(coffee, 0.6f), 1);
  b.box({3, 1, 3}, {9, 1.5f, 2}, lit(grey(0.9f), 0.3f), 0.4f);  // saucers
  b.box({3, 1, 3}, {9, 2.5f, 2}, lit(grey(0.9f), 0.3f), 0.4f);
  b.sphere(1.2f, {5, 8, -1}, lit(dark, 0.4f));
  b.sphere(0.8f, {-8, 14.5f, -1}, lit(light, 0.4f));
  return corner;
}

std::unique_ptr<Entity> makeCouch(float u) {
  auto couch = std::make_unique<Entity>();
  Builder b{*couch, u};
  const Color blue{0.3f, 0.37f, 0.5f, 1};
  const Color blueLight{0.36f, 0.44f, 0.58f, 1};
  const Color wood{0.32f, 0.22f, 0.14f, 1};
  b.box({34, 5, 14}, {0, 4, 0}, lit(blue, 0.9f), 1.5f);                 // base
  b.box({16, 3, 12}, {-8.2f, 7.5f, 0.8f}, lit(blueLight, 0.9f), 1.4f);  // seat cushions
  b.box({16, 3, 12}, {8.2f, 7.5f, 0.8f}, lit(blueLight, 0.9f), 1.4f);
  b.box({34, 11, 4}, {0, 11, -5.5f}, lit(blue, 0.9f), 1.6f);       // back
  b.box({15, 8, 3}, {-8.2f, 12, -3}, lit(blueLight, 0.9f), 1.4f);  // back cushions
  b.box({15, 8, 3}, {8.2f, 12, -3}, lit(blueLight, 0.9f), 1.4f);
  b.box({4, 8, 14}, {-18, 7.5f, 0}, lit(blue, 0.9f), 1.6f);  // arms
  b.box({4, 8, 14}, {18, 7.5f, 0}, lit(blue, 0.9f), 1.6f);
  b.box({2, 2, 2}, {-15, 0.5f, 5}, lit(wood, 0.6f), 0.4f);  // feet
  b.box({2, 2, 2}, {15, 0.5f, 5}, lit(wood, 0.6f), 0.4f);
  return couch;
}

std::unique_ptr<Entity> makeCornerDecor(bool right, float u) {
  auto corner = std::make_unique<Entity>();
  if (right) {
    auto plant = makePlant(u);
    plant->setPosition(glm::vec3(0, -3, 5) * u);
    corner->addChild(std::move(plant));
    auto cooler = makeWaterCooler(u);
    cooler->setPosition(glm::vec3(-16, 0, 0) * u);
    corner->addChild(std::move(cooler));
  } else {
    auto cabinet = makeFilingCabinet(u);
    corner->addChild(std::move(cabinet));
    auto plant = makePlant(u);
    plant->setPosition(glm::vec3(12, -3, 4) * u);
    corner->addChild(std::move(plant));
    auto small = makePlant(u * 0.7f);
    small->setPosition(glm::vec3(0, 18, 0) * u);
    corner->addChild(std::move(small));
  }
  return corner;
}

std::unique_ptr<Entity> makePoster(float u) {
  auto poster = std::make_unique<Entity>();
  Builder b{*poster, u};
  const Color ink{0.24f, 0.15f, 0.08f, 1};
  b.box({24, 32, 1}, {0, 0, 0}, lit({0.74f, 0.58f, 0.27f, 1}, 0.35f), 0.6f);   // gold frame
  b.box({21, 29, 0.4f}, {0, 0, 0.6f}, unlit({0.95f, 0.93f, 0.85f, 1}), 0.3f);  // paper
  poster->addChild(
      centredText("EMPLOYEE", {2.6f * u, 700, false}, 0.0006f, ink, glm::vec3(0, 11.5f, 0.9f) * u));
  poster->addChild(centredText("of the MONTH", {1.8f * u, 600, false}, 0.0006f, ink,
                               glm::vec3(0, 8.6f, 0.9f) * u));
  auto portrait = ModelEntity::make(generatePlane(14 * u, 14 * u, 1.5f * u),
                                    UnlitMaterial{palette::white, mascotTexture(), 0.5f});
  portrait->setPosition(glm::vec3(0, -1, 0.9f) * u);
  poster->addChild(std::move(portrait));
  poster->addChild(centredText("Tallyloft", {2.2f * u, 700, false}, 0.0006f, ink,
                               glm::vec3(0, -10.6f, 0.9f) * u));
  b.sphere(1.6f, {8, -11, 1.1f}, lit({0.85f, 0.47f, 0.34f, 1}, 0.5f));  // rosette
  return poster;
}

// The clock face, painted once for the whole process.
std::shared_ptr<const Texture> clockFace() {
  static std::shared_ptr<const Texture> face = [] {
    constexpr int kSize = 256;
    QImage image(kSize, kSize, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QPointF centre(kSize / 2.0, kSize / 2.0);
    const auto ring = [&](double fraction, QColor color) {
      p.setBrush(color);
      p.drawEllipse(centre, kSize / 2.0 * fraction, kSize / 2.0 * fraction);
    };
    ring(1.0, QColor::fromRgbF(0.08f, 0.08f, 0.08f));
    ring(0.935, QColor::fromRgbF(0.74f, 0.58f, 0.3f));
    ring(0.83, QColor::fromRgbF(0.2f, 0.2f, 0.2f));
    ring(0.775, QColor::fromRgbF(0.98f, 0.98f, 0.98f));
    p.setBrush(QColor::fromRgbF(0.15f, 0.15f, 0.15f));
    const double radius = kSize / 2.0;
    for (int hour = 0; hour < 12; ++hour) {
      p.save();
      p.translate(centre);
      p.rotate(hour * 30.0);
      const double length = (hour % 3 == 0 ? 0.12 : 0.05) * radius;
      const double width = 0.03 * radius * 2;
      p.drawRect(QRectF(-width / 2, -0.72 * radius, width, length));
      p.restore();
    }
    p.end();
    return Texture::fromImage(image);
  }();
  return face;
}

}  // namespace

bool RoomDecor::needsRebuild(float slotW, float h) const {
  return builtSlotW < 0 || std::fabs(slotW - builtSlotW) > 0.5f || std::fabs(h - builtH) > 0.5f;
}

void rebuildRoom(RoomDecor& decor, float slotW, float h, float sc) {
  decor.poster = nullptr;  // hangs on the wall band and goes with it
  for (Entity* piece : {decor.signWall, decor.coffee, decor.couch, decor.decorL, decor.decorR,
                        static_cast<Entity*>(decor.divider)}) {
    if (piece != nullptr) piece->removeFromParent();
  }
  Entity& root = *decor.root;
  decor.signWall =
      root.addChild(ModelEntity::make(generatePlane(1.05f * slotW * sc, 0.22f * h * sc, 0.01f),
                                      lit({0.235f, 0.222f, 0.197f, 1}, 0.9f)));
  if (slotW > 300) {
    auto poster = makePoster(sc);
    poster->setScale(glm::vec3(1.7f));
    poster->setPosition({0.2f * 0.97f * slotW * sc, 0, 0.5f * sc});
    decor.poster = decor.signWall->addChild(std::move(poster));
  }
  decor.divider =
      root.addChild(ModelEntity::make(generateBox(glm::vec3(3.5f, 0.92f * h, 26) * sc, 0.5f * sc),
                                      lit({0.46f, 0.43f, 0.39f, 1}, 0.9f)));
  auto coffee = makeCoffeeCorner(sc);
  coffee->setScale(glm::vec3(1.5f));
  decor.coffee = root.addChild(std::move(coffee));
  decor.couch = root.addChild(makeCouch(sc));
  decor.decorL = root.addChild(makeCornerDecor(false, sc));
  decor.decorR = root.addChild(makeCornerDecor(true, sc));
  decor.builtSlotW = slotW;
  decor.builtH = h;
}

void DoorEntity::setSize(float width, float height) {
  if (std::fabs(width - builtW) < 0.00001f && std::fabs(height - builtH) < 0.00001f) return;
  while (!root->children().empty()) root->children().back()->removeFromParent();
  const Color wood{0.3f, 0.22f, 0.16f, 1};
  const auto add = [](Entity& parent, MeshDescriptor mesh, Material material, glm::vec3 at) {
    return addModel(parent, std::move(mesh), std::move(material), at);
  };
  const float t = 1.2f * s;  // frame thickness
  add(*root, generatePlane(width, height), unlit({0.11f, 0.09f, 0.07f, 1}), {0, 0, -0.2f * s});
  add(*root, generateBox({t, height + t, 2 * t}), lit(wood, 0.85f), {-width / 2 - t / 2, t / 2, 0});
  add(*root, generateBox({t, height + t, 2 * t}), lit(wood, 0.85f), {width / 2 + t / 2, t / 2, 0});
  add(*root, generateBox({width + 2 * t, t, 2 * t}), lit(wood, 0.85f), {0, height / 2 + t / 2, 0});
  hinge = root->addChild(std::make_unique<Entity>());
  hinge->setPosition({-width / 2, 0, 0.3f * s});
  add(*hinge, generateBox({width, height, 0.6f * s}), lit({0.46f, 0.34f, 0.23f, 1}, 0.85f),
      {width / 2, 0, 0});
  add(*hinge, generateSphere(0.45f * s), lit(grey(0.82f), 0.3f),
      {width - 2.5f * s, -0.05f * height, 0.6f * s});
  builtW = width;
  builtH = height;
  ++builds;
  setSwing(lastSwing);
}

void DoorEntity::setSwing(float angle) {
  lastSwing = angle;
  if (hinge != nullptr) hinge->setOrientation(glm::angleAxis(angle, glm::vec3(0, 1, 0)));
}

WallClock::WallClock(float worldScale, double startSeconds) : t(startSeconds) {
  root->name = "clock";
  auto face =
      ModelEntity::make(generatePlane(18.8f * worldScale, 18.8f * worldScale, 9.4f * worldScale),
                        UnlitMaterial{palette::white, clockFace(), std::nullopt});
  root->addChild(std::move(face));
  const auto hand = [&](Entity*& pivot, glm::vec3 size, Color color, float z) {
    pivot = root->addChild(std::make_unique<Entity>());
    pivot->setPosition({0, 0, z * worldScale});
    auto part = ModelEntity::make(generateBox(size * worldScale, 0.2f * worldScale), unlit(color));
    part->setPosition(glm::vec3(0, size.y / 2 - 0.8f, 0) * worldScale);
    pivot->addChild(std::move(part));
  };
  hand(hourPivot, {1.1f, 4.6f, 0.3f}, grey(0.12f), 0.3f);
  hand(minPivot, {0.8f, 6.6f, 0.3f}, grey(0.18f), 0.6f);
  hand(secPivot, {0.3f, 7.2f, 0.2f}, palette::red, 0.9f);
  tick(0);
}

double WallClock::localSecondsOfDay(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
}

glm::vec3 WallClock::handAngles() const {
  const double day = std::fmod(t, 86400.0);
  return {static_cast<float>(std::fmod(day / 3600.0, 12.0) / 12.0 * 2 * kPi),
          static_cast<float>(std::fmod(day / 60.0, 60.0) / 60.0 * 2 * kPi),
          static_cast<float>(std::fmod(day, 60.0) / 60.0 * 2 * kPi)};
}

void WallClock::tick(float dt) {
  t += dt;
  const glm::vec3 angles = handAngles();
  hourPivot->setOrientation(glm::angleAxis(-angles.x, glm::vec3(0, 0, 1)));  // clockwise
  minPivot->setOrientation(glm::angleAxis(-angles.y, glm::vec3(0, 0, 1)));
  secPivot->setOrientation(glm::angleAxis(-angles.z, glm::vec3(0, 0, 1)));
}

SteamColumn::SteamColumn(float worldScale, const std::vector<glm::vec3>& sources,
                         std::mt19937& random)
    : s(worldScale), random_(&random) {
  root->name = "steam";
  for (const glm::vec3& source : sources) {
    for (int i = 0; i < 4; ++i) {
      auto puff =
          ModelEntity::make(generatePlane(2.6f * s, 2.6f * s, 1.3f * s), unlit(grey(0.96f)));
      Puff made{root->addChild(std::move(puff)), source, 0, 1, 0};
      restart(made);
      made.t = made.dur * static_cast<float>(i) / 4;  // spread out from the start
      puffs.push_back(made);
    }
  }
}

void SteamColumn::restart(Puff& puff) {
  puff.t = 0;
  puff.dur = std::uniform_real_distribution<float>(1.8f, 2.8f)(*random_);
  puff.drift = std::uniform_real_distribution<float>(-1, 1)(*random_);
}

void SteamColumn::tick(float dt) {
  ++opacityTick;
  for (Puff& puff : puffs) {
    puff.t += dt;
    if (puff.t >= puff.dur) restart(puff);
    const float u = puff.t / puff.dur;
    puff.e->setPosition(puff.base +
                        glm::vec3(puff.drift * std::sin(u * kPi) * 2.5f * s, u * 11 * s, 0));
    puff.e->setScale(glm::vec3(0.4f + 1.8f * u));
    puff.e->setOpacity(std::sin(kPi * u) * 0.45f);
  }
}

DustMotes::DustMotes(float worldScale, int count, std::mt19937& random)
    : s(worldScale), random_(&random) {
  root->name = "dust";
  for (int i = 0; i < count; ++i) {
    auto mote = ModelEntity::make(generatePlane(0.5f * s, 0.5f * s, 0.25f * s),
                                  unlit({1.0f, 0.97f, 0.86f, 1}));
    motes.push_back({root->addChild(std::move(mote)), 0, 0, 0, 0, 0, 0, 0, 0});
  }
}

void DustMotes::setBounds(float halfWidth, float halfHeight) {
  halfW = halfWidth;
  halfH = halfHeight;
  if (seeded) return;
  seeded = true;
  const auto uniform = [this](float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(*random_);
  };
  for (Mote& mote : motes) {
    mote.x = uniform(-halfW, halfW);
    mote.y = uniform(-halfH, halfH);
    mote.z = uniform(0.05f, 0.25f);
    mote.drift = uniform(-0.02f, 0.02f);
    mote.rise = uniform(0.004f, 0.015f);
    mote.ph = uniform(0, 6.28f);
    mote.tw = uniform(0.6f, 1.8f);
    mote.baseOp = uniform(0.25f, 0.6f);
  }
}

void DustMotes::tick(float dt) {
  ++opacityTick;
  for (Mote& mote : motes) {
    mote.ph += mote.tw * dt;
    mote.x += mote.drift * dt;
    mote.y += mote.rise * dt;
    if (mote.x > halfW) mote.x -= 2 * halfW;
    if (mote.x < -halfW) mote.x += 2 * halfW;
    if (mote.y > halfH) mote.y -= 2 * halfH;
    mote.e->setPosition({mote.x + 0.4f * s * std::sin(mote.ph * 0.5f), mote.y, mote.z});
    mote.e->setOpacity(mote.baseOp * (0.55f + 0.45f * std::sin(mote.ph)));
  }
}

}  // namespace tallyloft
