#include "render/GpuCache.h"

#include <algorithm>
#include <cmath>

#include "graph/TextLayout.h"
#include "render/TextRasterizer.h"

namespace tallyloft {
namespace {

constexpr std::size_t kTextCacheSize = 256;
constexpr std::uint64_t kEvictAfterFrames = 240;

}  // namespace

GpuCache::~GpuCache() {
  for (auto& [descriptor, mesh] : meshes_) release(mesh);
  for (auto* cache : {&boxTemplates_, &sphereTemplates_})
    for (auto& [segments, mesh] : *cache) release(mesh);
  for (auto& [id, cached] : textures_) glDeleteTextures(1, &cached.name);
  for (auto& [text, densities] : textTextures_) {
    for (auto& [density, made] : densities) release(made);
  }
}

void GpuCache::release(const GpuMesh& mesh) {
  glDeleteVertexArrays(1, &mesh.vao);
  glDeleteBuffers(1, &mesh.vertexBuffer);
  glDeleteBuffers(1, &mesh.indexBuffer);
}
void GpuCache::release(const TextTexture& text) {
  glDeleteTextures(1, &text.glyphs);
  if (text.emoji != 0) glDeleteTextures(1, &text.emoji);
}

// Boxes and spheres of every size share a mesh per tessellation, sized per instance: the many
// parts of robots, desks and furniture then draw in a handful of calls.
// Their arcs get as many segments as their size on screen needs (`pixelsPerUnit` of their own
// units), so small parts cost few vertices and magnified ones stay round.
const GpuMesh& GpuCache::shapedMesh(const MeshDescriptor& descriptor, float pixelsPerUnit,
                                    glm::vec4& shape) {
  shape = glm::vec4(1, 1, 1, 0);
  if (const auto* box = std::get_if<BoxMesh>(&descriptor)) {
    const glm::vec3 half = box->size / 2.0f;
    const float radius = std::max(std::min({box->cornerRadius, half.x, half.y, half.z}), 0.0f);
    // A rounding under a pixel would not show: such a box is drawn sharp.
    const float rounding = radius * pixelsPerUnit;
    const int segments = rounding >= 1 ? quarterSegmentsAt(rounding) : 0;
    shape = segments > 0 ? glm::vec4(half - glm::vec3(radius), radius) : glm::vec4(half, 0);
    return shared(boxTemplates_, segments, roundedBoxTemplate);
  }
  if (const auto* sphere = std::get_if<SphereMesh>(&descriptor)) {
    shape = glm::vec4(glm::vec3(sphere->radius), 0);
    // Under 4 pixels of radius a hexagon strays at most half a pixel from the circle.
    const float pixels = sphere->radius * pixelsPerUnit;
    return shared(sphereTemplates_, pixels < 4 ? 0 : quarterSegmentsAt(pixels), sphereTemplate);
  }
  return mesh(descriptor);
}
GpuMesh& GpuCache::shared(std::unordered_map<int, GpuMesh>& cache, int segments,
                          MeshGeometry (*build)(int)) {
  auto it = cache.find(segments);
  if (it == cache.end()) it = cache.emplace(segments, uploadMesh(build(segments))).first;
  return it->second;
}

GpuMesh& GpuCache::mesh(const MeshDescriptor& descriptor) {
  auto it = meshes_.find(descriptor);
  if (it == meshes_.end())
    it = meshes_.emplace(descriptor, uploadMesh(buildMeshGeometry(descriptor))).first;
  it->second.text = std::holds_alternative<TextMesh>(descriptor);
  it->second.lastUsed = frame_;
  return it->second;
}

GpuMesh GpuCache::uploadMesh(const MeshGeometry& geometry) {
  GpuMesh mesh;
  glGenVertexArrays(1, &mesh.vao);
  glBindVertexArray(mesh.vao);
  glGenBuffers(1, &mesh.vertexBuffer);
  glBindBuffer(GL_ARRAY_BUFFER, mesh.vertexBuffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(geometry.vertices.size() * sizeof(Vertex)),
               geometry.vertices.data(), GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                        reinterpret_cast<void*>(offsetof(Vertex, position)));
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                        reinterpret_cast<void*>(offsetof(Vertex, normal)));
  glEnableVertexAttribArray(2);
  glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                        reinterpret_cast<void*>(offsetof(Vertex, uv)));
  glGenBuffers(1, &mesh.indexBuffer);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBuffer);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER,
               static_cast<GLsizeiptr>(geometry.indices.size() * sizeof(std::uint32_t)),
               geometry.indices.data(), GL_STATIC_DRAW);
  for (GLuint location = 3; location <= 12; ++location) {
    glEnableVertexAttribArray(location);
    glVertexAttribDivisor(location, 1);
  }
  glBindVertexArray(0);
  mesh.indexCount = static_cast<GLsizei>(geometry.indices.size());
  mesh.vertexCount = static_cast<GLsizei>(geometry.vertices.size());
  BoundingBox bounds;
  for (const Vertex& vertex : geometry.vertices) bounds.add(vertex.position);
  if (!bounds.isEmpty()) {
    mesh.center = bounds.center();
    mesh.size = bounds.max - bounds.min;
  }
  return mesh;
}

GLuint GpuCache::uploadImage(const QImage& source, bool mipmapped) {
  const QImage image = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(image.bytesPerLine() / 4));
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width(), image.height(), 0, GL_RGBA,
               GL_UNSIGNED_BYTE, image.constBits());
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  if (mipmapped) {
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  } else {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  }
  return name;
}

GLuint GpuCache::textureFor(const std::shared_ptr<const Texture>& source) {
  auto it = textures_.find(source->id());
  if (it == textures_.end()) {
    it = textures_
             .emplace(source->id(),
                      CachedTexture{uploadImage(source->image(), source->mipmapped()), source})
             .first;
  }
  return it->second.name;
}

// The text set at a density (pixels per local unit, a power of two) that covers what it shows.
const GpuCache::TextTexture& GpuCache::textFor(const TextMesh& text, float pixelsPerUnit) {
  const int density =
      1 << std::clamp(static_cast<int>(std::ceil(std::log2(std::max(pixelsPerUnit, 1.0f)))), 0, 20);
  auto byText = textTextures_.find(text);
  if (byText == textTextures_.end())
    byText = textTextures_.emplace(text, std::unordered_map<int, TextTexture>()).first;
  auto it = byText->second.find(density);
  if (it == byText->second.end()) {
    const TextLayout layout = layoutText(text);
    // Keep textures_ within what every GPU accepts.
    const float largest = std::max(layout.width, layout.height) * static_cast<float>(density);
    const float fitted =
        largest > 4096 ? static_cast<float>(density) * 4096 / largest : static_cast<float>(density);
    TextTexture made;
    made.glyphs = uploadImage(rasterizeText(layout, fitted, false), false);
    if (layout.hasEmoji) made.emoji = uploadImage(rasterizeText(layout, fitted, true), false);
    it = byText->second.emplace(density, made).first;
    ++textTextureCount_;
  }
  it->second.lastUsed = frame_;
  return it->second;
}

bool GpuCache::evict() {
  bool dropped = false;
  // Textures whose Texture has gone can never be drawn again.
  std::erase_if(textures_, [](auto& entry) {
    if (!entry.second.source.expired()) return false;
    glDeleteTextures(1, &entry.second.name);
    return true;
  });
  if (textTextureCount_ > kTextCacheSize) {
    for (auto byText = textTextures_.begin(); byText != textTextures_.end();) {
      std::erase_if(byText->second, [this](auto& entry) {
        if (frame_ - entry.second.lastUsed < kEvictAfterFrames) return false;
        release(entry.second);
        --textTextureCount_;
        return true;
      });
      byText = byText->second.empty() ? textTextures_.erase(byText) : std::next(byText);
    }
  }
  // Meshes nothing has drawn for a while go (a resized room leaves its old walls behind);
  // text only once there is a lot of it, so a desk's scrolling lines stay cached.
  std::size_t textMeshes = 0;
  for (const auto& [descriptor, mesh] : meshes_) textMeshes += mesh.text;
  const bool textToo = textMeshes > kTextCacheSize;
  if (frame_ % kEvictAfterFrames == 0 || textToo) {
    const auto before = meshes_.size();
    std::erase_if(meshes_, [this, textToo](auto& entry) {
      if ((entry.second.text && !textToo) || frame_ - entry.second.lastUsed < kEvictAfterFrames)
        return false;
      release(entry.second);
      return true;
    });
    dropped = meshes_.size() != before;
  }
  return dropped;
}

}  // namespace tallyloft
