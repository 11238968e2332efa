#pragma once

#include <glm/glm.hpp>
#include <string>
#include <variant>

#include "graph/BoundingBox.h"

namespace tallyloft {

// Mesh descriptors: plain values saying what to generate. Equal descriptors share one generated
// mesh. Sizes are in the entity's local units.

struct BoxMesh {
  glm::vec3 size{1};
  float cornerRadius = 0;
  friend bool operator==(const BoxMesh&, const BoxMesh&) = default;
};

// A plane through the origin: vertical (in XY, facing +Z) by width and height, or horizontal (in
// XZ, facing +Y) by width and depth.
struct PlaneMesh {
  float width = 1;
  float length = 1;  // height when vertical, depth when horizontal
  bool vertical = true;
  float cornerRadius = 0;
  friend bool operator==(const PlaneMesh&, const PlaneMesh&) = default;
};

struct SphereMesh {
  float radius = 0.5f;
  friend bool operator==(const SphereMesh&, const SphereMesh&) = default;
};

// A cone along Y, centred on the origin: base of `radius` at -height/2, apex at +height/2.
struct ConeMesh {
  float height = 1;
  float radius = 0.5f;
  friend bool operator==(const ConeMesh&, const ConeMesh&) = default;
};

enum class TextAlignment { left, center, right };
enum class LineBreak { wordWrap, truncateTail };

struct FontSpec {
  float size = 0.1f;  // line height scale, in local units
  int weight = 400;   // 100 (thin) to 900 (black); 400 regular, 600 semibold, 700 bold
  bool monospaced = false;
  friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

// Text drawn flat in the XY plane. The block's bottom-left corner is the origin (or, with a
// container frame, the text sits at the top of the frame, aligned within its width). Lines break
// at "\n" and, with a frame width, at word boundaries (or are cut with "…").
struct TextMesh {
  std::string text;
  float extrusionDepth = 0;
  FontSpec font;
  glm::vec2 containerFrame{0};  // zero: unbounded
  TextAlignment alignment = TextAlignment::left;
  LineBreak lineBreak = LineBreak::wordWrap;
  friend bool operator==(const TextMesh&, const TextMesh&) = default;
};

using MeshDescriptor = std::variant<BoxMesh, PlaneMesh, SphereMesh, ConeMesh, TextMesh>;

MeshDescriptor generateBox(glm::vec3 size, float cornerRadius = 0);
MeshDescriptor generateBox(float size, float cornerRadius = 0);
MeshDescriptor generatePlane(float width, float height, float cornerRadius = 0);
MeshDescriptor generateHorizontalPlane(float width, float depth, float cornerRadius = 0);
MeshDescriptor generateSphere(float radius);
MeshDescriptor generateCone(float height, float radius);
MeshDescriptor generateText(std::string text, float extrusionDepth = 0, FontSpec font = {},
                            glm::vec2 containerFrame = glm::vec2(0),
                            TextAlignment alignment = TextAlignment::left,
                            LineBreak lineBreak = LineBreak::wordWrap);

// The mesh's extent in local units. Text needs a QGuiApplication (fonts).
BoundingBox meshBounds(const MeshDescriptor& mesh);

std::size_t hashTextMesh(const TextMesh& text);

struct MeshDescriptorHash {
  std::size_t operator()(const MeshDescriptor& mesh) const;
};

}  // namespace tallyloft
