#pragma once

#include <QImage>
#include <memory>
#include <optional>
#include <variant>

#include "graph/Palette.h"

namespace tallyloft {

// An image the renderer uploads once; shared by the materials that use it. The pixels must not
// change after creation (make a new texture instead).
class Texture {
 public:
  explicit Texture(QImage image, bool mipmapped = true)
      : image_(image.convertToFormat(QImage::Format_RGBA8888_Premultiplied)),
        mipmapped_(mipmapped),
        id_(nextId()) {}
  static std::shared_ptr<const Texture> fromImage(QImage image, bool mipmapped = true) {
    return std::make_shared<const Texture>(std::move(image), mipmapped);
  }

  const QImage& image() const { return image_; }
  bool mipmapped() const { return mipmapped_; }
  // Unique for the process' lifetime; the renderer's cache key.
  std::uint64_t id() const { return id_; }

 private:
  static std::uint64_t nextId() {
    static std::uint64_t counter = 0;
    return ++counter;
  }
  QImage image_;
  bool mipmapped_;
  std::uint64_t id_;
};

// Shaded by the three lights: a base colour, how rough and whether it is metal.
struct LitMaterial {
  Color color = palette::white;
  float roughness = 0.5f;
  bool metallic = false;
  friend bool operator==(const LitMaterial&, const LitMaterial&) = default;
};

// Not shaded: a colour, optionally multiplying a texture; with an opacity threshold, pixels whose
// alpha is below it are cut out instead of blended.
struct UnlitMaterial {
  Color color = palette::white;
  std::shared_ptr<const Texture> texture;
  std::optional<float> opacityThreshold;
  friend bool operator==(const UnlitMaterial&, const UnlitMaterial&) = default;
};

using Material = std::variant<LitMaterial, UnlitMaterial>;

// The crew mascot (assets/mascot.png), decoded once on first use and shared.
std::shared_ptr<const Texture> mascotTexture();

// A plain unlit colour.
inline UnlitMaterial unlit(const Color& color) {
  return {color, nullptr, std::nullopt};
}

}  // namespace tallyloft
