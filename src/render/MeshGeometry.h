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

// Segments per quarter turn for an arc `pixels` pixels in radius on screen (1 to 12): no chord
// strays more than a pixel from its arc.
int quarterSegmentsAt(float pixels);
// The same for an arc of `radius` world units at the largest the office is seen (the panel's 200
// points for 2 world units, magnified 3x: 300 pixels a unit).
int quarterSegments(float radius);

// Shared shapes that one mesh draws at any size: a vertex's place is position × h + normal × r.
// A rounded box of inner half-size h (its half-size less the radius) and radius r, with
// `segments` per rounded quarter (0: sharp); positions are the inner corners' signs (±1).
MeshGeometry roundedBoxTemplate(int segments);
// A sphere of radius h (all three alike) and r 0: positions are the unit normals. With 0 segments,
// the coarsest: six around, for spheres a few pixels across.
MeshGeometry sphereTemplate(int segments);

}  // namespace tallyloft
