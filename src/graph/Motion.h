#pragma once

#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>

namespace tallyloft {

// Moves `value` towards `goal` by the fraction rate × dt of the way (at most all of it): an
// exponential ease that behaves the same at any frame rate.
inline float approach(float value, float goal, float rate, float dt) {
  return value + (goal - value) * std::min(1.0f, rate * dt);
}

// 0 below 0, 1 above 1, and a smooth S between.
inline float smoothstep(float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

// The same angle within −π…π.
inline float wrapAngle(float angle) {
  constexpr float kPi = 3.14159265f;
  while (angle > kPi) angle -= 2 * kPi;
  while (angle < -kPi) angle += 2 * kPi;
  return angle;
}

// A rotation of `radians` about `axis`.
inline glm::quat about(float radians, glm::vec3 axis) {
  return glm::angleAxis(radians, axis);
}

}  // namespace tallyloft
