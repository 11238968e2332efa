#pragma once

#include <memory>

#include "graph/Scene.h"

namespace tallyloft {

// Draws a Scene with OpenGL 3.3 core. Meshes are generated once per descriptor and cached;
// entities that share a mesh, a material kind and a texture are drawn with one instanced call.
// Opaque and alpha-tested surfaces are drawn first, then blended ones from back to front. The
// opaque and alpha-tested surfaces of still entities are kept drawn in a layer of their own, with
// its depth, and copied under each frame until any of them, the camera or the lights change.
// Closed lit shapes only a few pixels across, and flat faces, are lit once per vertex, with a
// plain fragment shader: the two look alike there, and a software rasterizer spends most of a frame
// lighting pixels.
// Text is set by QPainter at the density it appears on screen.
//
// Needs the same current OpenGL context for its whole life, and a QGuiApplication for text.
// Output is premultiplied alpha over the scene's (by default clear) background.
class Renderer {
 public:
  struct Stats {
    int drawCalls = 0;
    int instances = 0;
    long long vertices = 0;        // submitted: each batch's mesh times its instances
    double cpuMilliseconds = 0;    // traversal, sorting and instance upload
    bool stillLayerDrawn = false;  // the still layer was drawn anew, not only copied
  };

  Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;
  ~Renderer();

  // Draws into the bound framebuffer, `width` × `height` pixels, of which each output pixel is
  // `pixelsPerOutputPixel` along each side (supersampled): detail is chosen for the output.
  Stats render(const Scene& scene, int width, int height, int pixelsPerOutputPixel = 1);

  // One draw call per entity instead of per batch (for comparison).
  void setInstancing(bool instancing);
  // Closed lit shapes at most this many pixels across, and flat faces of any size, are lit per
  // vertex (16 by default; 0: every surface is lit per pixel).
  void setVertexLightingUpTo(float pixels);
  // Whether still entities are kept drawn in a cached layer (on by default); off, they are
  // drawn with everything else every frame.
  void setStillLayer(bool on);
  // Meshes generated so far and still cached.
  std::size_t cachedMeshCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tallyloft
