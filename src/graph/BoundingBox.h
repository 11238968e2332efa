#pragma once

#include <glm/glm.hpp>
#include <limits>

namespace tallyloft {

// An axis-aligned box; empty until something is added to it.
struct BoundingBox {
  glm::vec3 min{std::numeric_limits<float>::max()};
  glm::vec3 max{std::numeric_limits<float>::lowest()};

  static BoundingBox of(glm::vec3 low, glm::vec3 high) { return {low, high}; }
  bool isEmpty() const { return min.x > max.x; }
  glm::vec3 center() const { return (min + max) * 0.5f; }
  // Half the size along each axis.
  glm::vec3 extents() const { return isEmpty() ? glm::vec3(0) : (max - min) * 0.5f; }

  void add(glm::vec3 point) {
    min = glm::min(min, point);
    max = glm::max(max, point);
  }
  void add(const BoundingBox& other) {
    if (other.isEmpty()) return;
    add(other.min);
    add(other.max);
  }
  // The box around this one's eight corners moved by `transform`.
  BoundingBox transformed(const glm::mat4& transform) const {
    BoundingBox result;
    if (isEmpty()) return result;
    for (int corner = 0; corner < 8; ++corner) {
      const glm::vec3 point{corner & 1 ? max.x : min.x, corner & 2 ? max.y : min.y,
                            corner & 4 ? max.z : min.z};
      result.add(glm::vec3(transform * glm::vec4(point, 1)));
    }
    return result;
  }
};

}  // namespace tallyloft
