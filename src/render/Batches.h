#pragma once

// The renderer's batches: instances of one mesh drawn alike in one call, and how a list of them
// becomes OpenGL calls.
#include <epoxy/gl.h>

#include <cstddef>
#include <functional>
#include <vector>

#include "render/GpuCache.h"
#include "render/Renderer.h"
#include "render/SceneProgram.h"

namespace tallyloft::drawing {

struct Instance {
  float model[16];
  float color[4];
  float params[4];  // roughness, metallic, opacity, alpha cut-off (negative: none)
  float normal[9];  // inverse transpose of the model's upper 3x3
  float shape[4];   // a shared mesh's size: position × xyz + normal × w
};
static_assert(sizeof(Instance) == 37 * sizeof(float));

enum class Pass { opaque, alphaTest, blend };
// Lit per vertex: closed shapes seen from outside, when small on screen.
enum class Lighting : unsigned char { none, perVertex, perPixel };

struct BatchKey {
  Pass pass;
  const GpuMesh* mesh;
  Lighting lighting;
  GLuint texture;
  bool cullBack = false;  // a closed shape seen from outside: its back faces never show
  friend bool operator==(const BatchKey&, const BatchKey&) = default;
};

struct BatchKeyHash {
  std::size_t operator()(const BatchKey& key) const {
    return std::hash<const void*>()(key.mesh) ^ (static_cast<std::size_t>(key.texture) << 3) ^
           (static_cast<std::size_t>(key.pass) << 1) ^
           (static_cast<std::size_t>(key.lighting) << 5) ^
           (static_cast<std::size_t>(key.cullBack) << 2);
  }
};

struct Batch {
  BatchKey key;
  std::size_t first;
  std::size_t count;
};

// Whether a batch is drawn with the plain program: untextured, not cut out and not lit per pixel.
inline bool drawnPlain(const BatchKey& key) {
  return key.texture == 0 && key.pass != Pass::alphaTest && key.lighting != Lighting::perPixel;
}

// Draws `batches` from the instance buffer bound as the array buffer, each with the form of the
// scene program it needs (both set up for the frame). Instanced, a batch is one call; otherwise
// one call per instance. Counts what it draws into `stats`.
void drawBatches(const std::vector<Batch>& batches, bool instancing, const SceneProgram& full,
                 const SceneProgram& plain, Renderer::Stats& stats);

}  // namespace tallyloft::drawing
