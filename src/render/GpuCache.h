#pragma once

#include <epoxy/gl.h>

#include <QImage>
#include <cstdint>
#include <glm/glm.hpp>
#include <memory>
#include <unordered_map>

#include "graph/Material.h"
#include "graph/Mesh.h"
#include "render/MeshGeometry.h"

namespace tallyloft {

// A mesh on the GPU.
struct GpuMesh {
  GLuint vao = 0;
  GLuint vertexBuffer = 0;
  GLuint indexBuffer = 0;
  GLsizei indexCount = 0;
  GLsizei vertexCount = 0;
  glm::vec3 center{0};  // of the vertices: blended meshes are sorted by it
  glm::vec3 size{0};    // of the vertices' box
  bool text = false;
  std::uint64_t lastUsed = 0;
};

// The renderer's GPU resources: meshes by descriptor (boxes and spheres of every size as shared
// meshes sized per instance), textures by Texture, text set at the densities it is shown at.
// Needs the same current OpenGL context for its whole life; frees what it made when destroyed.
class GpuCache {
 public:
  struct TextTexture {
    GLuint glyphs = 0;
    GLuint emoji = 0;
    std::uint64_t lastUsed = 0;
  };

  GpuCache() = default;
  GpuCache(const GpuCache&) = delete;
  GpuCache& operator=(const GpuCache&) = delete;
  ~GpuCache();

  // Counts frames: what goes unused for a while is released by evict().
  void nextFrame() { ++frame_; }
  // The mesh of a descriptor, made on first use.
  GpuMesh& mesh(const MeshDescriptor& descriptor);
  // The same, where boxes and spheres come from a mesh shared by every size: `shape` receives
  // their size for the vertex shader (position × xyz + normal × w), and their arcs as many
  // segments as `pixelsPerUnit` (screen pixels per unit of their own space) needs.
  const GpuMesh& shapedMesh(const MeshDescriptor& descriptor, float pixelsPerUnit,
                            glm::vec4& shape);
  GLuint textureFor(const std::shared_ptr<const Texture>& source);
  // The text set at a density (pixels per local unit, a power of two) that covers what it shows.
  const TextTexture& textFor(const TextMesh& text, float pixelsPerUnit);
  // Releases textures whose Texture has gone, text and meshes unused for a while. Whether any
  // mesh went (pointers to it are then stale).
  bool evict();
  std::size_t meshCount() const { return meshes_.size(); }

 private:
  GpuMesh& shared(std::unordered_map<int, GpuMesh>& cache, int segments,
                  MeshGeometry (*build)(int));
  static GpuMesh uploadMesh(const MeshGeometry& geometry);
  static GLuint uploadImage(const QImage& source, bool mipmapped);
  static void release(const GpuMesh& mesh);
  static void release(const TextTexture& text);

  struct CachedTexture {
    GLuint name;
    std::weak_ptr<const Texture> source;  // released once the texture itself is gone
  };
  struct TextMeshHash {
    std::size_t operator()(const TextMesh& text) const { return hashTextMesh(text); }
  };
  std::uint64_t frame_ = 0;
  std::unordered_map<MeshDescriptor, GpuMesh, MeshDescriptorHash> meshes_;
  std::unordered_map<int, GpuMesh> boxTemplates_;              // by segments per rounded quarter
  std::unordered_map<int, GpuMesh> sphereTemplates_;           // by segments per quarter turn
  std::unordered_map<std::uint64_t, CachedTexture> textures_;  // by Texture::id()
  // By text, then by density: found without copying the text.
  std::unordered_map<TextMesh, std::unordered_map<int, TextTexture>, TextMeshHash> textTextures_;
  std::size_t textTextureCount_ = 0;
};

}  // namespace tallyloft
