#include "render/MeshGeometry.h"

#include <algorithm>
#include <cmath>
#include <glm/gtc/constants.hpp>

#include "graph/TextLayout.h"

namespace tallyloft {
namespace {

// Adds a triangle, wound counter-clockwise seen from the side its normals point to.
void addTriangle(MeshGeometry& mesh, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  const Vertex& va = mesh.vertices[a];
  const Vertex& vb = mesh.vertices[b];
  const Vertex& vc = mesh.vertices[c];
  const glm::vec3 face = glm::cross(vb.position - va.position, vc.position - va.position);
  if (glm::dot(face, va.normal + vb.normal + vc.normal) < 0) std::swap(b, c);
  mesh.indices.insert(mesh.indices.end(), {a, b, c});
}

// A rounded box of inner half-size 1 and radius 1, each rounded quarter `segments` chords: eight
// sphere octants at the inner box's corners, twelve quarter cylinders along its edges and six flat
// faces. Positions are placed (inner point plus normal); uv runs over the face a vertex faces.
MeshGeometry unitRoundedBox(int segments) {
  MeshGeometry mesh;
  const auto add = [&](glm::vec3 core, glm::vec3 normal) {
    int axis = 0;
    for (int i = 1; i < 3; ++i)
      if (std::abs(normal[i]) > std::abs(normal[axis]) + 1e-6f) axis = i;
    const glm::vec3 at = core + normal;
    const glm::vec2 uv{(at[(axis + 1) % 3] + 2) / 4, (at[(axis + 2) % 3] + 2) / 4};
    mesh.vertices.push_back({at, normal, uv});
    return static_cast<std::uint32_t>(mesh.vertices.size() - 1);
  };
  const float quarter = glm::half_pi<float>() / static_cast<float>(segments);
  const glm::vec3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int corner = 0; corner < 8; ++corner) {
    const glm::vec3 sign(corner & 1 ? 1 : -1, corner & 2 ? 1 : -1, corner & 4 ? 1 : -1);
    // Rows down from the pole at ±y; row k holds k + 1 points from the ±x edge to the ±z edge.
    std::vector<std::uint32_t> above;
    std::vector<std::uint32_t> row;
    for (int k = 0; k <= segments; ++k) {
      row.clear();
      const float polar = quarter * static_cast<float>(k);
      for (int m = 0; m <= k; ++m) {
        const float around = k == 0 ? 0 : glm::half_pi<float>() * static_cast<float>(m) / k;
        const glm::vec3 direction(std::sin(polar) * std::cos(around), std::cos(polar),
                                  std::sin(polar) * std::sin(around));
        row.push_back(add(sign, direction * sign));
      }
      for (int m = 0; m < k; ++m) {
        addTriangle(mesh, above[m], row[m], row[m + 1]);
        if (m + 1 < k) addTriangle(mesh, above[m], row[m + 1], above[m + 1]);
      }
      std::swap(above, row);
    }
  }
  for (int along = 0; along < 3; ++along) {
    const glm::vec3 a = axes[(along + 1) % 3];
    const glm::vec3 b = axes[(along + 2) % 3];
    const glm::vec3 c = axes[along];
    for (float sa : {-1.0f, 1.0f}) {
      for (float sb : {-1.0f, 1.0f}) {
        std::uint32_t previous[2] = {};
        for (int j = 0; j <= segments; ++j) {
          const float angle = quarter * static_cast<float>(j);
          const glm::vec3 normal = std::cos(angle) * sa * a + std::sin(angle) * sb * b;
          const std::uint32_t low = add(sa * a + sb * b - c, normal);
          const std::uint32_t high = add(sa * a + sb * b + c, normal);
          if (j > 0) {
            addTriangle(mesh, previous[0], low, high);
            addTriangle(mesh, previous[0], high, previous[1]);
          }
          previous[0] = low;
          previous[1] = high;
        }
      }
    }
  }
  for (int axis = 0; axis < 3; ++axis) {
    const glm::vec3 u = axes[(axis + 1) % 3];
    const glm::vec3 v = axes[(axis + 2) % 3];
    for (float side : {-1.0f, 1.0f}) {
      const glm::vec3 normal = side * axes[axis];
      const std::uint32_t first = add(normal - u - v, normal);
      add(normal + u - v, normal);
      add(normal + u + v, normal);
      add(normal - u + v, normal);
      addTriangle(mesh, first, first + 1, first + 2);
      addTriangle(mesh, first, first + 2, first + 3);
    }
  }
  return mesh;
}

MeshGeometry sharpBox(glm::vec3 half) {
  MeshGeometry mesh;
  const glm::vec3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int axis = 0; axis < 3; ++axis) {
    const glm::vec3 u = axes[(axis + 1) % 3];
    const glm::vec3 v = axes[(axis + 2) % 3];
    for (float side : {-1.0f, 1.0f}) {
      const glm::vec3 normal = side * axes[axis];
      const auto first = static_cast<std::uint32_t>(mesh.vertices.size());
      for (const glm::vec2 corner : {glm::vec2(0, 0), {1, 0}, {1, 1}, {0, 1}}) {
        const glm::vec3 at = normal + (corner.x * 2 - 1) * u + (corner.y * 2 - 1) * v;
        mesh.vertices.push_back({at * half, normal, corner});
      }
      addTriangle(mesh, first, first + 1, first + 2);
      addTriangle(mesh, first, first + 2, first + 3);
    }
  }
  return mesh;
}

MeshGeometry box(const BoxMesh& box) {
  const glm::vec3 half = box.size / 2.0f;
  const float radius = std::min({box.cornerRadius, half.x, half.y, half.z});
  if (radius <= 0) return sharpBox(half);
  MeshGeometry mesh = unitRoundedBox(quarterSegments(radius));
  const glm::vec3 inner = half - glm::vec3(radius);
  for (Vertex& vertex : mesh.vertices) {
    vertex.position = (vertex.position - vertex.normal) * inner + vertex.normal * radius;
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
      // The first and last rings meet at a pole: one triangle each, not a quad.
      if (ring > 0) mesh.indices.insert(mesh.indices.end(), {a, b, a + 1});
      if (ring + 1 < rings) mesh.indices.insert(mesh.indices.end(), {a + 1, b, b + 1});
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
  if (segments == 0) return sharpBox(glm::vec3(1));
  // The inner box's corners are at ±1 and the radius is 1: each vertex is its corner plus its
  // normal.
  MeshGeometry mesh = unitRoundedBox(segments);
  for (Vertex& vertex : mesh.vertices) vertex.position = glm::sign(vertex.position - vertex.normal);
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
