#include "render/MeshGeometry.h"

#include <algorithm>
#include <cmath>
#include <glm/gtc/constants.hpp>

#include "graph/TextLayout.h"

namespace tallyloft {
namespace {

// Grid coordinates along one box axis from -half to half, dense near the rounded edges.
std::vector<float> edgeSteps(float half, float radius, int segments) {
  if (radius <= 0) return {-half, half};
  std::vector<float> steps;
  for (int i = 0; i <= segments; ++i) {
    steps.push_back(-half + radius * (1 - std::cos(glm::half_pi<float>() * static_cast<float>(i) /
                                                   static_cast<float>(segments))));
  }
  for (int i = segments; i >= 0; --i) {
    steps.push_back(half - radius * (1 - std::cos(glm::half_pi<float>() * static_cast<float>(i) /
                                                  static_cast<float>(segments))));
  }
  return steps;
}

MeshGeometry box(const BoxMesh& box, int forcedSegments = -1) {
  MeshGeometry mesh;
  const glm::vec3 half = box.size / 2.0f;
  const float radius = std::min({box.cornerRadius, half.x, half.y, half.z});
  const glm::vec3 inner = half - glm::vec3(std::max(radius, 0.0f));
  // Each face is a grid; every grid point is pulled onto the rounded surface: the nearest point
  // of the inner box plus the radius along the direction away from it.
  for (int axis = 0; axis < 3; ++axis) {
    for (int sign = -1; sign <= 1; sign += 2) {
      const int u = (axis + 1) % 3;
      const int v = (axis + 2) % 3;
      const int segments = forcedSegments >= 0 ? forcedSegments : quarterSegments(radius);
      const std::vector<float> us = edgeSteps(half[u], radius, segments);
      const std::vector<float> vs = edgeSteps(half[v], radius, segments);
      const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
      for (std::size_t j = 0; j < vs.size(); ++j) {
        for (std::size_t i = 0; i < us.size(); ++i) {
          glm::vec3 point(0);
          point[axis] = static_cast<float>(sign) * half[axis];
          point[u] = us[i];
          point[v] = vs[j];
          glm::vec3 normal(0);
          normal[axis] = static_cast<float>(sign);
          if (radius > 0) {
            const glm::vec3 core = glm::clamp(point, -inner, inner);
            const glm::vec3 away = point - core;
            if (glm::length(away) > 1e-9f) normal = glm::normalize(away);
            point = core + normal * radius;
          }
          const glm::vec2 uv{(us[i] + half[u]) / (2 * half[u]), (vs[j] + half[v]) / (2 * half[v])};
          mesh.vertices.push_back({point, normal, uv});
        }
      }
      const auto columns = static_cast<std::uint32_t>(us.size());
      for (std::uint32_t j = 0; j + 1 < vs.size(); ++j) {
        for (std::uint32_t i = 0; i + 1 < columns; ++i) {
          const std::uint32_t a = base + j * columns + i;
          const std::uint32_t b = a + 1;
          const std::uint32_t c = a + columns;
          const std::uint32_t d = c + 1;
          // u × v points along +axis: flip the winding on the negative face.
          if (sign > 0) {
            mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
          } else {
            mesh.indices.insert(mesh.indices.end(), {a, d, b, a, c, d});
          }
        }
      }
    }
  }
  return mesh;
}

MeshGeometry plane(const PlaneMesh& plane) {
  MeshGeometry mesh;
  const float w = plane.width / 2;
  const float l = plane.length / 2;
  const float radius = std::clamp(plane.cornerRadius, 0.0f, std::min(w, l));
  // The outline, corner arcs included, as a fan around the centre.
  std::vector<glm::vec2> outline;
  const glm::vec2 corners[] = {{w - radius, l - radius},
                               {-w + radius, l - radius},
                               {-w + radius, -l + radius},
                               {w - radius, -l + radius}};
  for (int corner = 0; corner < 4; ++corner) {
    const int segments = radius > 0 ? quarterSegments(radius) : 0;
    for (int i = 0; i <= segments; ++i) {
      const float angle =
          glm::half_pi<float>() *
          (static_cast<float>(corner) + (segments ? static_cast<float>(i) / segments : 0));
      outline.push_back(corners[corner] + radius * glm::vec2(std::cos(angle), std::sin(angle)));
    }
  }
  const auto place = [&](glm::vec2 p) {
    return plane.vertical ? glm::vec3(p.x, p.y, 0) : glm::vec3(p.x, 0, -p.y);
  };
  const glm::vec3 normal = plane.vertical ? glm::vec3(0, 0, 1) : glm::vec3(0, 1, 0);
  const auto uv = [&](glm::vec2 p) {
    return glm::vec2((p.x + w) / (2 * w), 1 - (p.y + l) / (2 * l));
  };
  mesh.vertices.push_back({place({0, 0}), normal, uv({0, 0})});
  for (glm::vec2 p : outline) mesh.vertices.push_back({place(p), normal, uv(p)});
  const auto count = static_cast<std::uint32_t>(outline.size());
  for (std::uint32_t i = 0; i < count; ++i) {
    mesh.indices.insert(mesh.indices.end(), {0, 1 + i, 1 + (i + 1) % count});
  }
  return mesh;
}

MeshGeometry sphere(const SphereMesh& sphere, int forcedSegments = -1) {
  MeshGeometry mesh;
  const int quarter = forcedSegments >= 0 ? forcedSegments : quarterSegments(sphere.radius);
  // Forced to none, the smallest: six around and three rings (a chord strays 0.13 r).
  const int around = quarter == 0 ? 6 : std::max(4 * quarter, 8);
  const int ringCount = around / 2;
  for (int ring = 0; ring <= ringCount; ++ring) {
    const float phi = glm::pi<float>() * static_cast<float>(ring) / static_cast<float>(ringCount);
    for (int segment = 0; segment <= around; ++segment) {
      const float theta =
          glm::two_pi<float>() * static_cast<float>(segment) / static_cast<float>(around);
      const glm::vec3 normal{std::sin(phi) * std::sin(theta), std::cos(phi),
                             std::sin(phi) * std::cos(theta)};
      mesh.vertices.push_back({normal * sphere.radius,
                               normal,
                               {static_cast<float>(segment) / static_cast<float>(around),
                                static_cast<float>(ring) / static_cast<float>(ringCount)}});
    }
  }
  const auto rings = static_cast<std::uint32_t>(ringCount);
  const auto aroundCount = static_cast<std::uint32_t>(around);
  for (std::uint32_t ring = 0; ring < rings; ++ring) {
    for (std::uint32_t segment = 0; segment < aroundCount; ++segment) {
      const std::uint32_t a = ring * (aroundCount + 1) + segment;
      const std::uint32_t b = a + aroundCount + 1;
      mesh.indices.insert(mesh.indices.end(), {a, b, a + 1, a + 1, b, b + 1});
    }
  }
  return mesh;
}

MeshGeometry cone(const ConeMesh& cone) {
  MeshGeometry mesh;
  const int count = std::max(4 * quarterSegments(cone.radius), 8);
  const float h = cone.height / 2;
  const float slope = cone.radius / std::max(cone.height, 1e-6f);
  for (int segment = 0; segment <= count; ++segment) {
    const float theta =
        glm::two_pi<float>() * static_cast<float>(segment) / static_cast<float>(count);
    const glm::vec3 around{std::sin(theta), 0, std::cos(theta)};
    const glm::vec3 normal = glm::normalize(glm::vec3(around.x, slope, around.z));
    const float u = static_cast<float>(segment) / static_cast<float>(count);
    mesh.vertices.push_back({around * cone.radius + glm::vec3(0, -h, 0), normal, {u, 1}});
    mesh.vertices.push_back({glm::vec3(0, h, 0), normal, {u, 0}});
  }
  const auto segments = static_cast<std::uint32_t>(count);
  for (std::uint32_t segment = 0; segment < segments; ++segment) {
    const std::uint32_t a = segment * 2;
    mesh.indices.insert(mesh.indices.end(), {a, a + 2, a + 1});
  }
  // The base disc, facing down.
  const auto centre = static_cast<std::uint32_t>(mesh.vertices.size());
  mesh.vertices.push_back({{0, -h, 0}, {0, -1, 0}, {0.5f, 0.5f}});
  for (int segment = 0; segment <= count; ++segment) {
    const float theta =
        glm::two_pi<float>() * static_cast<float>(segment) / static_cast<float>(count);
    mesh.vertices.push_back({{std::sin(theta) * cone.radius, -h, std::cos(theta) * cone.radius},
                             {0, -1, 0},
                             {0.5f + 0.5f * std::sin(theta), 0.5f + 0.5f * std::cos(theta)}});
  }
  for (std::uint32_t segment = 0; segment < segments; ++segment) {
    mesh.indices.insert(mesh.indices.end(), {centre, centre + 2 + segment, centre + 1 + segment});
  }
  return mesh;
}

MeshGeometry textQuad(const TextMesh& text) {
  MeshGeometry mesh;
  const TextLayout layout = layoutText(text);
  const glm::vec2 low = layout.origin;
  const glm::vec2 high = layout.origin + glm::vec2(layout.width, layout.height);
  const glm::vec3 normal{0, 0, 1};
  const float z = text.extrusionDepth;
  mesh.vertices = {{{low.x, low.y, z}, normal, {0, 1}},
                   {{high.x, low.y, z}, normal, {1, 1}},
                   {{high.x, high.y, z}, normal, {1, 0}},
                   {{low.x, high.y, z}, normal, {0, 0}}};
  mesh.indices = {0, 1, 2, 0, 2, 3};
  return mesh;
}

}  // namespace

int quarterSegmentsAt(float pixels) {
  // A chord spanning angle a strays r (1 − cos(a/2)) ≈ r a² / 8 from its arc: at most a pixel.
  const int segments =
      static_cast<int>(std::ceil(glm::half_pi<float>() / std::sqrt(8 / std::max(pixels, 1e-3f))));
  return std::clamp(segments, 1, 12);
}

int quarterSegments(float radius) {
  constexpr float kPixelsPerUnit = 300;
  return quarterSegmentsAt(std::max(radius, 0.0f) * kPixelsPerUnit);
}

MeshGeometry roundedBoxTemplate(int segments) {
  // A box of half-size 2 and radius 1 has its inner box at ±1: every vertex is that corner plus
  // the normal.
  MeshGeometry mesh = box(BoxMesh{glm::vec3(4), segments > 0 ? 1.0f : 0.0f}, segments);
  for (Vertex& vertex : mesh.vertices) {
    vertex.position = segments > 0 ? vertex.position - vertex.normal : vertex.position / 2.0f;
  }
  return mesh;
}

MeshGeometry sphereTemplate(int segments) {
  return sphere(SphereMesh{1}, segments);
}

MeshGeometry buildMeshGeometry(const MeshDescriptor& descriptor) {
  struct Visitor {
    MeshGeometry operator()(const BoxMesh& mesh) const { return box(mesh); }
    MeshGeometry operator()(const PlaneMesh& mesh) const { return plane(mesh); }
    MeshGeometry operator()(const SphereMesh& mesh) const { return sphere(mesh); }
    MeshGeometry operator()(const ConeMesh& mesh) const { return cone(mesh); }
    MeshGeometry operator()(const TextMesh& mesh) const { return textQuad(mesh); }
  };
  return std::visit(Visitor{}, descriptor);
}

}  // namespace tallyloft
