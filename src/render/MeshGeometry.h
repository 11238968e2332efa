#pragma once

#include <cstdint>
#include <glm/glm.hpp>
#include <vector>

#include "graph/Mesh.h"

namespace tallyloft {

struct Vertex {
  glm::vec3 position;
  glm::vec3 normal;
  glm::vec2 uv;
};

// Triangles with per-vertex normals, counter-clockwise when seen from outside.
struct MeshGeometry {
  std::vector<Vertex> vertices;
  std::vector<std::uint32_t> indices;
};

// Generates the triangles a descriptor describes. Rounded boxes and planes get smooth normals on
// their rounded edges. A text mesh becomes the quad its layout covers (uv 0..1 over the block),
// which the renderer textures with the set text. Pure CPU work.
MeshGeometry buildMeshGeometry(const MeshDescriptor& mesh);

}  // namespace tallyloft
