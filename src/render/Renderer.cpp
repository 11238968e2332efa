#include "render/Renderer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "render/Batches.h"
#include "render/FreedMemory.h"
#include "render/GpuCache.h"
#include "render/MeshGeometry.h"
#include "render/SceneProgram.h"
#include "render/StillLayer.h"

namespace tallyloft {
namespace {

using namespace drawing;

// How many runs of blended meshes back an item may join one of its key.
constexpr std::size_t kBlendLookBack = 64;

bool overlaps(const glm::vec4& a, const glm::vec4& b) {
  return a.x <= b.z && b.x <= a.z && a.y <= b.w && b.y <= a.w;
}

// Glyphs under this many pixels tall are drawn as bars.
constexpr float kSmallestReadableText = 3.0f;

// Whether the text holds anything outside ASCII that could be an emoji.
bool hasEmoji(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0xF0; });
}
// The key light's intensity maps to this much radiance.
constexpr float kRadiancePerIntensity = 1.0f / 5600.0f;

void setMatrix(float* out, const glm::mat4& matrix) {
  std::copy_n(glm::value_ptr(matrix), 16, out);
}

}  // namespace

struct Renderer::Impl {
  // Made first: it keeps freed memory for reuse before the driver allocates.
  const bool keptFreedMemory = keepFreedMemoryForReuse();
  SceneProgram program{false};
  SceneProgram plainProgram{true};
  GLuint instanceBuffer = 0;
  std::size_t instanceCapacity = 0;
  bool instancing = true;
  float vertexLightingUpTo = 16;

  GpuCache cache;
  const MeshDescriptor unitQuad = generatePlane(1, 1);  // small text is drawn as this, scaled

  // Frame scratch, kept to avoid allocating every frame.
  std::unordered_map<BatchKey, std::vector<Instance>, BatchKeyHash> solid;
  // The solid keys in the order the traversal first met them this frame. The map's own order
  // follows mesh addresses, which differ from run to run: drawn in it, surfaces at equal depth
  // would win differently and the same scene would not give the same picture.
  std::vector<BatchKey> solidOrder;
  struct Blended {
    float depth;
    std::size_t order;  // ties keep the order of the traversal
    BatchKey key;
    Instance instance;
    glm::vec4 rect;       // on screen: x and y from (low) and to (high), in clip space
    std::size_t run = 0;  // the run of one key it is drawn in
  };
  struct BlendRun {
    BatchKey key;
    glm::vec4 rect;  // covers every member
  };
  std::vector<BlendRun> blendRuns;
  std::vector<Blended> blended;
  std::vector<Instance> upload;
  std::vector<Batch> batches;
  struct Visit {
    const Entity* entity;
    glm::mat4 parent;
    float opacity;
    bool still;
  };

  // The still layer: the opaque and cut-out surfaces of still entities, drawn into a framebuffer
  // of their own and copied under each frame for as long as nothing about them changes.
  bool stillLayer = true;
  std::unordered_map<BatchKey, std::vector<Instance>, BatchKeyHash> still;
  std::vector<BatchKey> stillOrder;
  std::vector<Batch> stillBatches;
  // What the layer would hold this frame: its batches and instances, the camera, the background
  // and the lights.
  std::vector<unsigned char> stillContents;
  StillLayer layer;

  template <typename T>
  void describe(const T* values, std::size_t count) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(values);
    stillContents.insert(stillContents.end(), bytes, bytes + count * sizeof(T));
  }
  std::vector<Visit> stack;
  std::vector<glm::vec3> towardLights;
  std::vector<glm::vec3> lightColors;

  Impl() {
    // Nothing else is compiled: let the driver drop its compiler's state (Mesa keeps megabytes of
    // built-in functions otherwise).
    glReleaseShaderCompiler();
    glGenBuffers(1, &instanceBuffer);
  }

  ~Impl() {
    layer.release();
    glDeleteBuffers(1, &instanceBuffer);
  }
};

Renderer::Renderer() : impl_(std::make_unique<Impl>()) {}
Renderer::~Renderer() = default;
void Renderer::setInstancing(bool instancing) {
  impl_->instancing = instancing;
}
void Renderer::setVertexLightingUpTo(float pixels) {
  impl_->vertexLightingUpTo = pixels;
}
void Renderer::setStillLayer(bool on) {
  impl_->stillLayer = on;
  if (!on) impl_->layer.release();
}
std::size_t Renderer::cachedMeshCount() const {
  return impl_->cache.meshCount();
}

Renderer::Stats Renderer::render(const Scene& scene, int width, int height,
                                 int pixelsPerOutputPixel) {
  const auto started = std::chrono::steady_clock::now();
  Impl& r = *impl_;
  r.cache.nextFrame();
  Stats stats;

  // Camera.
  glm::mat4 cameraWorld = glm::translate(glm::mat4(1), glm::vec3(0, 0, 2));
  float fov = 60;
  float near = 0.1f;
  float far = 1000;
  if (const PerspectiveCamera* camera = scene.camera()) {
    cameraWorld = camera->worldMatrix();
    fov = camera->fieldOfViewInDegrees;
    near = camera->near;
    far = camera->far;
  }
  const float aspect = static_cast<float>(width) / static_cast<float>(std::max(height, 1));
  const glm::mat4 projection = glm::perspective(glm::radians(fov), aspect, near, far);
  const glm::mat4 view = glm::inverse(cameraWorld);
  const glm::mat4 viewProjection = projection * view;
  const glm::vec3 eye = glm::vec3(cameraWorld[3]);
  const glm::vec3 forward = -glm::normalize(glm::vec3(cameraWorld[2]));
  // Output pixels per world unit at distance 1: what detail is chosen for.
  const float pixelsAtUnitDistance = static_cast<float>(height) /
                                     static_cast<float>(std::max(pixelsPerOutputPixel, 1)) /
                                     (2 * std::tan(glm::radians(fov) / 2));

  // Where a mesh lands on screen (its bounds' corners in clip space); anything reaching behind
  // the eye covers the whole screen.
  const auto screenRect = [&](const glm::mat4& world, const GpuMesh& mesh, glm::vec4 shape) {
    const glm::vec3 half = mesh.size * 0.5f * glm::vec3(shape) + glm::vec3(shape.w);
    const glm::mat4 toClip = viewProjection * world;
    glm::vec4 rect(INFINITY, INFINITY, -INFINITY, -INFINITY);
    for (int corner = 0; corner < 8; ++corner) {
      const glm::vec3 sign(corner & 1 ? 1 : -1, corner & 2 ? 1 : -1, corner & 4 ? 1 : -1);
      const glm::vec4 clip = toClip * glm::vec4(mesh.center + half * sign, 1);
      if (clip.w <= 1e-6f) return glm::vec4(-INFINITY, -INFINITY, INFINITY, INFINITY);
      const glm::vec2 at = glm::vec2(clip) / clip.w;
      rect = {std::min(rect.x, at.x), std::min(rect.y, at.y), std::max(rect.z, at.x),
              std::max(rect.w, at.y)};
    }
    return rect;
  };

  // Lights, and the instances of every visible model.
  std::vector<glm::vec3>& lightToward = r.towardLights;
  std::vector<glm::vec3>& lightRadiance = r.lightColors;
  lightToward.clear();
  lightRadiance.clear();
  for (auto& [key, list] : r.solid) list.clear();
  r.solidOrder.clear();
  for (auto& [key, list] : r.still) list.clear();
  r.stillOrder.clear();
  r.blended.clear();
  auto& stack = r.stack;  // kept between frames: no allocation on the steady path
  stack.clear();
  for (const auto& anchor : scene.root().children())
    stack.push_back({anchor.get(), glm::mat4(1), 1, false});
  while (!stack.empty()) {
    const Impl::Visit frame = stack.back();
    stack.pop_back();
    const Entity& entity = *frame.entity;
    if (!entity.isEnabled()) continue;
    const glm::mat4 world = frame.parent * entity.transform().matrix();
    const float opacity = frame.opacity * entity.opacity();
    const bool still = r.stillLayer && (frame.still || entity.isStill());
    for (const auto& child : entity.children())
      stack.push_back({child.get(), world, opacity, still});
    if (entity.kind() == Entity::Kind::light && lightToward.size() < 4) {
      const auto& light = static_cast<const DirectionalLight&>(entity);
      lightToward.push_back(glm::normalize(glm::vec3(world[2])));
      lightRadiance.push_back(glm::vec3(light.color.r, light.color.g, light.color.b) *
                              light.intensity * kRadiancePerIntensity);
    }
    if (entity.kind() != Entity::Kind::model || opacity <= 0) continue;
    const auto& model = static_cast<const ModelEntity&>(entity);
    if (model.materials.empty()) continue;
    // Screen pixels per unit of the entity's own space, for choosing its detail.
    const float reach = glm::dot(glm::vec3(world[3]) - eye, forward);
    const float largestScale =
        std::max({glm::length(glm::vec3(world[0])), glm::length(glm::vec3(world[1])),
                  glm::length(glm::vec3(world[2]))});
    const float pixelsPerUnit = pixelsAtUnitDistance / std::max(reach, 1e-3f) * largestScale;
    glm::vec4 shape;
    const GpuMesh& mesh = r.cache.shapedMesh(model.mesh, pixelsPerUnit, shape);
    Instance instance{};
    setMatrix(instance.model, world);
    std::copy_n(glm::value_ptr(shape), 4, instance.shape);
    const glm::mat3 normal = glm::transpose(glm::inverse(glm::mat3(world)));
    std::copy_n(glm::value_ptr(normal), 9, instance.normal);
    instance.params[2] = opacity;
    instance.params[3] = -1;
    const float depth = glm::dot(glm::vec3(world * glm::vec4(mesh.center, 1)) - eye, forward);
    // Flat faces are lit alike per vertex and per pixel at any size: across one, only the
    // direction to the eye changes, and the office's camera is far off.
    const bool flat = std::holds_alternative<PlaneMesh>(model.mesh) ||
                      (std::holds_alternative<BoxMesh>(model.mesh) && shape.w == 0);
    const auto add = [&](BatchKey key, const Color& color, float roughness, float metallic,
                         std::optional<float> cutoff) {
      instance.color[0] = color.r, instance.color[1] = color.g, instance.color[2] = color.b,
      instance.color[3] = color.a;
      instance.params[0] = roughness;
      instance.params[1] = metallic;
      instance.params[3] = cutoff.value_or(-1);
      // Anything faded is blended (a cut-out keeps its cut, and blends what remains).
      if (key.pass != Pass::blend && (opacity < 1 || color.a < 1)) key.pass = Pass::blend;
      // Only opaque closed shapes skip their back faces: through a faded or cut-out one the far
      // side shows.
      if (key.pass != Pass::opaque) key.cullBack = false;
      // Lit per vertex, the far side of a rounded shape would show the light of the near one (a
      // flat face is turned to the eye).
      if (key.lighting == Lighting::perVertex && !key.cullBack && !flat)
        key.lighting = Lighting::perPixel;
      if (key.pass == Pass::blend) {
        r.blended.push_back(
            {depth, r.blended.size(), key, instance, screenRect(world, mesh, shape), 0});
      } else {
        std::vector<Instance>& list = still ? r.still[key] : r.solid[key];
        if (list.empty()) (still ? r.stillOrder : r.solidOrder).push_back(key);
        list.push_back(instance);
      }
    };
    if (const auto* text = std::get_if<TextMesh>(&model.mesh)) {
      const Color tint =
          std::visit([](const auto& material) { return material.color; }, model.materials.front());
      const float scale = glm::length(glm::vec3(world[1]));
      const float pixelsPerUnit = pixelsAtUnitDistance / std::max(depth, 1e-3f) * scale;
      // Text too small to read is a bar of its colour: one shared quad, drawn with the other
      // plain surfaces in a single call instead of one textured call per line.
      if (text->font.size * pixelsPerUnit < kSmallestReadableText && !hasEmoji(text->text)) {
        const GpuMesh& bar = r.cache.mesh(r.unitQuad);
        const glm::mat4 quad = world * glm::translate(glm::mat4(1), mesh.center) *
                               glm::scale(glm::mat4(1), {mesh.size.x, text->font.size * 0.45f, 1});
        setMatrix(instance.model, quad);
        add({Pass::opaque, &bar, Lighting::none, 0}, tint, 1, 0, std::nullopt);
        continue;
      }
      const auto& textures = r.cache.textFor(*text, pixelsPerUnit);
      add({Pass::blend, &mesh, Lighting::none, textures.glyphs}, tint, 1, 0, std::nullopt);
      if (textures.emoji != 0) {
        add({Pass::blend, &mesh, Lighting::none, textures.emoji}, palette::white.withAlpha(tint.a),
            1, 0, std::nullopt);
      }
      continue;
    }
    // A mirroring transform turns the winding round: such instances draw both sides.
    const bool closed = (std::holds_alternative<BoxMesh>(model.mesh) ||
                         std::holds_alternative<SphereMesh>(model.mesh) ||
                         std::holds_alternative<ConeMesh>(model.mesh)) &&
                        glm::determinant(glm::mat3(world)) > 0;
    if (const auto* lit = std::get_if<LitMaterial>(&model.materials.front())) {
      const glm::vec3 extent = mesh.size * glm::vec3(shape) + glm::vec3(2 * shape.w);
      const bool small =
          std::max({extent.x, extent.y, extent.z}) * pixelsPerUnit <= r.vertexLightingUpTo ||
          (flat && r.vertexLightingUpTo > 0);
      add({Pass::opaque, &mesh, small ? Lighting::perVertex : Lighting::perPixel, 0, closed},
          lit->color, lit->roughness, lit->metallic ? 1.0f : 0.0f, std::nullopt);
    } else {
      const auto& unlit = std::get<UnlitMaterial>(model.materials.front());
      const GLuint texture = unlit.texture ? r.cache.textureFor(unlit.texture) : 0;
      const Pass pass =
          unlit.opacityThreshold ? Pass::alphaTest : (texture != 0 ? Pass::blend : Pass::opaque);
      add({pass, &mesh, Lighting::none, texture, closed}, unlit.color, 1, 0,
          unlit.opacityThreshold);
    }
  }

  // Batches: the still layer's first, then solid ones grouped, then blended ones from back to
  // front in runs that share a key.
  r.upload.clear();
  r.batches.clear();
  r.stillBatches.clear();
  // Opaque batches first, then cut-out ones, each in the order the traversal met them.
  const auto gather = [&](const std::vector<BatchKey>& order, auto& instances,
                          std::vector<Batch>& into) {
    for (Pass pass : {Pass::opaque, Pass::alphaTest}) {
      for (const BatchKey& key : order) {
        const std::vector<Instance>& list = instances[key];
        if (key.pass != pass || list.empty()) continue;
        into.push_back({key, r.upload.size(), list.size()});
        r.upload.insert(r.upload.end(), list.begin(), list.end());
      }
    }
  };
  gather(r.stillOrder, r.still, r.stillBatches);
  gather(r.solidOrder, r.solid, r.batches);
  // Back to front; ties keep the traversal's order (no stable sort: it would allocate).
  std::sort(r.blended.begin(), r.blended.end(), [](const auto& a, const auto& b) {
    return a.depth != b.depth ? a.depth > b.depth : a.order < b.order;
  });
  // Runs of one key: an item joins the latest run of its key unless something drawn after that
  // run covers the same part of the screen, so order matters only where blends overlap.
  r.blendRuns.clear();
  for (auto& item : r.blended) {
    std::size_t run = r.blendRuns.size();
    for (std::size_t back = r.blendRuns.size();
         back > 0 && r.blendRuns.size() - back < kBlendLookBack; --back) {
      const auto& candidate = r.blendRuns[back - 1];
      if (candidate.key == item.key) {
        run = back - 1;
        break;
      }
      if (overlaps(candidate.rect, item.rect)) break;
    }
    if (run == r.blendRuns.size()) {
      r.blendRuns.push_back({item.key, item.rect});
    } else {
      glm::vec4& rect = r.blendRuns[run].rect;
      rect = {std::min(rect.x, item.rect.x), std::min(rect.y, item.rect.y),
              std::max(rect.z, item.rect.z), std::max(rect.w, item.rect.w)};
    }
    item.run = run;
    item.order = static_cast<std::size_t>(&item - r.blended.data());  // back to front
  }
  std::sort(r.blended.begin(), r.blended.end(), [](const auto& a, const auto& b) {
    return a.run != b.run ? a.run < b.run : a.order < b.order;
  });
  for (const auto& item : r.blended) {
    if (r.batches.empty() || !(r.batches.back().key == item.key) ||
        r.batches.back().key.pass != Pass::blend) {
      r.batches.push_back({item.key, r.upload.size(), 0});
    }
    r.upload.push_back(item.instance);
    ++r.batches.back().count;
  }
  glBindBuffer(GL_ARRAY_BUFFER, r.instanceBuffer);
  const auto bytes = r.upload.size() * sizeof(Instance);
  if (bytes > r.instanceCapacity) {
    r.instanceCapacity = std::max<std::size_t>(bytes * 2, 64 * sizeof(Instance));
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(r.instanceCapacity), nullptr,
                 GL_STREAM_DRAW);
  }
  if (bytes > 0)
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), r.upload.data());
  stats.cpuMilliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();

  // Draw.
  const Color& background = scene.background;
  // What the still layer is drawn from (the bytes of plain values; mesh keys by address).
  r.stillContents.clear();
  if (!r.stillBatches.empty()) {
    for (const Batch& batch : r.stillBatches) {
      r.describe(&batch.key.pass, 1);
      r.describe(&batch.key.mesh, 1);
      r.describe(&batch.key.lighting, 1);
      r.describe(&batch.key.texture, 1);
      r.describe(&batch.key.cullBack, 1);
      r.describe(&batch.count, 1);
    }
    const Batch& last = r.stillBatches.back();
    r.describe(r.upload.data(), last.first + last.count);
    r.describe(glm::value_ptr(viewProjection), 16);
    r.describe(glm::value_ptr(eye), 3);
    r.describe(&background, 1);
    for (std::size_t i = 0; i < lightToward.size(); ++i) {
      r.describe(glm::value_ptr(lightToward[i]), 3);
      r.describe(glm::value_ptr(lightRadiance[i]), 3);
    }
  }
  r.plainProgram.use(viewProjection, eye, lightToward, lightRadiance);
  r.program.use(viewProjection, eye, lightToward, lightRadiance);
  glActiveTexture(GL_TEXTURE0);
  const auto clear = [&] {
    glViewport(0, 0, width, height);
    glClearColor(background.r * background.a, background.g * background.a,
                 background.b * background.a, background.a);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  };
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glCullFace(GL_BACK);
  glFrontFace(GL_CCW);
  const auto draw = [&](const std::vector<Batch>& batches) {
    drawBatches(batches, r.instancing, r.program, r.plainProgram, stats);
  };
  if (r.stillBatches.empty()) {
    r.layer.release();
    clear();
  } else {
    // The still layer, drawn anew only when something in it, the camera, the lights or the size
    // changed; copied under the frame, depth and all, so that what moves is hidden behind it as
    // if drawn with it.
    GLint target = 0;
    GLint samples = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
    glGetIntegerv(GL_SAMPLES, &samples);
    if (!r.layer.holds(width, height, samples, r.stillContents)) {
      r.layer.redraw(width, height, samples, r.stillContents);
      clear();
      draw(r.stillBatches);
      stats.stillLayerDrawn = true;
    }
    r.layer.copyTo(static_cast<GLuint>(target));
    glViewport(0, 0, width, height);
  }
  draw(r.batches);
  glDisable(GL_BLEND);
  glDisable(GL_CULL_FACE);
  glDepthMask(GL_TRUE);
  glBindVertexArray(0);
  // Batch keys point at meshes: forget them all once some have gone.
  if (r.cache.evict()) {
    r.solid.clear();
    r.solidOrder.clear();
    r.still.clear();
    r.stillOrder.clear();
    r.layer.forget();  // its keys may name meshes now gone: it is drawn again
  }
  return stats;
}

}  // namespace tallyloft
