#include "graph/Mesh.h"

#include <functional>

#include "graph/Material.h"
#include "graph/TextLayout.h"

namespace tallyloft {
namespace {

void mix(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2);
}

void mixFloat(std::size_t& seed, float value) {
  mix(seed, std::hash<float>()(value));
}

}  // namespace

MeshDescriptor generateBox(glm::vec3 size, float cornerRadius) {
  return BoxMesh{size, cornerRadius};
}
MeshDescriptor generateBox(float size, float cornerRadius) {
  return BoxMesh{glm::vec3(size), cornerRadius};
}
MeshDescriptor generatePlane(float width, float height, float cornerRadius) {
  return PlaneMesh{width, height, true, cornerRadius};
}
MeshDescriptor generateHorizontalPlane(float width, float depth, float cornerRadius) {
  return PlaneMesh{width, depth, false, cornerRadius};
}
MeshDescriptor generateSphere(float radius) {
  return SphereMesh{radius};
}
MeshDescriptor generateCone(float height, float radius) {
  return ConeMesh{height, radius};
}
MeshDescriptor generateText(std::string text, float extrusionDepth, FontSpec font,
                            glm::vec2 containerFrame, TextAlignment alignment,
                            LineBreak lineBreak) {
  return TextMesh{std::move(text), extrusionDepth, font, containerFrame, alignment, lineBreak};
}

std::shared_ptr<const Texture> mascotTexture() {
  static const std::shared_ptr<const Texture> mascot =
      Texture::fromImage(QImage(":/assets/mascot.png"));
  return mascot;
}

BoundingBox meshBounds(const MeshDescriptor& mesh) {
  struct Visitor {
    BoundingBox operator()(const BoxMesh& box) const {
      return BoundingBox::of(-box.size / 2.0f, box.size / 2.0f);
    }
    BoundingBox operator()(const PlaneMesh& plane) const {
      const float w = plane.width / 2;
      const float l = plane.length / 2;
      return plane.vertical ? BoundingBox::of({-w, -l, 0}, {w, l, 0})
                            : BoundingBox::of({-w, 0, -l}, {w, 0, l});
    }
    BoundingBox operator()(const SphereMesh& sphere) const {
      return BoundingBox::of(glm::vec3(-sphere.radius), glm::vec3(sphere.radius));
    }
    BoundingBox operator()(const ConeMesh& cone) const {
      return BoundingBox::of({-cone.radius, -cone.height / 2, -cone.radius},
                             {cone.radius, cone.height / 2, cone.radius});
    }
    BoundingBox operator()(const TextMesh& text) const {
      const TextLayout layout = layoutText(text);
      if (layout.lines.empty()) return {};
      return BoundingBox::of(
          {layout.origin, 0},
          {layout.origin + glm::vec2(layout.width, layout.height), text.extrusionDepth});
    }
  };
  return std::visit(Visitor{}, mesh);
}

std::size_t hashTextMesh(const TextMesh& text) {
  std::size_t seed = std::hash<std::string>()(text.text);
  mixFloat(seed, text.extrusionDepth), mixFloat(seed, text.font.size);
  mix(seed, static_cast<std::size_t>(text.font.weight)), mix(seed, text.font.monospaced);
  mixFloat(seed, text.containerFrame.x), mixFloat(seed, text.containerFrame.y);
  mix(seed, static_cast<std::size_t>(text.alignment)),
      mix(seed, static_cast<std::size_t>(text.lineBreak));
  return seed;
}

std::size_t MeshDescriptorHash::operator()(const MeshDescriptor& mesh) const {
  std::size_t seed = mesh.index();
  struct Visitor {
    std::size_t& seed;
    void operator()(const BoxMesh& box) const {
      mixFloat(seed, box.size.x), mixFloat(seed, box.size.y), mixFloat(seed, box.size.z);
      mixFloat(seed, box.cornerRadius);
    }
    void operator()(const PlaneMesh& plane) const {
      mixFloat(seed, plane.width), mixFloat(seed, plane.length), mix(seed, plane.vertical);
      mixFloat(seed, plane.cornerRadius);
    }
    void operator()(const SphereMesh& sphere) const { mixFloat(seed, sphere.radius); }
    void operator()(const ConeMesh& cone) const {
      mixFloat(seed, cone.height), mixFloat(seed, cone.radius);
    }
    void operator()(const TextMesh& text) const {
      mix(seed, std::hash<std::string>()(text.text));
      mixFloat(seed, text.extrusionDepth), mixFloat(seed, text.font.size);
      mix(seed, static_cast<std::size_t>(text.font.weight)), mix(seed, text.font.monospaced);
      mixFloat(seed, text.containerFrame.x), mixFloat(seed, text.containerFrame.y);
      mix(seed, static_cast<std::size_t>(text.alignment)),
          mix(seed, static_cast<std::size_t>(text.lineBreak));
    }
  };
  std::visit(Visitor{seed}, mesh);
  return seed;
}

}  // namespace tallyloft
