// The robot's particles: bursts, sparks and their pool of retired ones.
#include <algorithm>
#include <cmath>

#include "entities/RobotEntity.h"
#include "graph/Motion.h"

namespace tallyloft {
namespace {

constexpr float kPi = 3.14159265f;

}  // namespace

void RobotEntity::burst(BurstKind kind, const Color& color) {
  const auto spawn = [&](const Color& sparkColor, glm::vec3 from, glm::vec3 velocity, float g,
                         float life,
                         float size) { spawnParticle(sparkColor, from, velocity, g, life, size); };
  switch (kind) {
    case BurstKind::sparkle:
      for (int i = 0; i < 10; ++i) {
        const float angle = uniform(0, 2 * kPi);
        spawn(color, {0, 6, 2},
              glm::vec3(std::cos(angle) * 18, uniform(12, 26), std::sin(angle) * 6) * s, 0.2f, 0.5f,
              1.6f);
      }
      break;
    case BurstKind::confetti: {
      const Color colors[] = {palette::green,  palette::blue,   palette::pink, palette::yellow,
                              palette::purple, palette::orange, palette::teal};
      for (const Color& each : colors) {
        for (int i = 0; i < 5; ++i) {
          spawn(each, {0, 12, 2}, glm::vec3(uniform(-4, 4), uniform(20, 34), uniform(-2, 2)) * s,
                0.5f, 1.2f, 1.8f);
        }
      }
      break;
    }
    case BurstKind::smoke:
      for (int i = 0; i < 8; ++i) {
        spawn(color, {uniform(-3, 3), 8, 1}, glm::vec3(uniform(-4, 4), uniform(2, 6), 0) * s, -0.1f,
              0.9f, 3.2f);
      }
      break;
  }
}

void RobotEntity::spawnParticle(const Color& color, glm::vec3 from, glm::vec3 velocity, float g,
                                float life, float size) {
  // Keep at most kMaxParticles, dropping the oldest.
  if (particles.size() >= kMaxParticles) retireParticle(0);
  ModelEntity* spark = nullptr;
  if (!sparkPool_.empty()) {
    spark = sparkPool_.back();
    sparkPool_.pop_back();
    spark->setEnabled(true);
    spark->materials[0] = sparkMaterial(color);
  } else {
    // One small rounded cube for every spark of every robot; its size comes from the scale.
    spark = root->addChild(
        ModelEntity::make(generateBox(glm::vec3(s), 0.3f * s), sparkMaterial(color)));
  }
  spark->setPosition(from * s);
  spark->setScale(glm::vec3(size));
  spark->setOpacity(1);
  particles.push_back({spark, velocity, g, life, life});
}

Material RobotEntity::sparkMaterial(const Color& color) {
  return unlit(color);
}

void RobotEntity::retireParticle(std::size_t index) {
  Particle particle = particles[index];
  particles.erase(particles.begin() + static_cast<std::ptrdiff_t>(index));
  particle.e->setEnabled(false);
  sparkPool_.push_back(particle.e);
}

void RobotEntity::advanceParticles(float dt) {
  ++particleTick;
  const bool hidden = spawnHold > 0;  // a robot on hold shows nothing, its sparks included
  for (Particle& particle : particles) {
    particle.life -= dt;
    particle.vel.y -= particle.g * dt;
    particle.e->setPosition(particle.e->position() + particle.vel * dt);
    particle.e->setOpacity(std::max(particle.life, 0.0f) / particle.maxLife);
    particle.e->setEnabled(!hidden);
  }
  for (std::size_t i = particles.size(); i-- > 0;) {
    if (particles[i].life <= 0) retireParticle(i);
  }
}

}  // namespace tallyloft
