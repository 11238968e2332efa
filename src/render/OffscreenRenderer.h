#pragma once

#include <QImage>
#include <QSize>
#include <memory>
#include <string>

#include "render/FrameReadback.h"
#include "render/RenderTarget.h"
#include "render/Renderer.h"

namespace tallyloft {

// Renders scenes without any window system: an OpenGL 3.3 core context on EGL's surfaceless
// platform (Mesa's llvmpipe where there is no GPU), drawing into a 4x multisampled framebuffer
// (or a supersampled one, when asked) that is read back into an image. Main-thread only; needs a
// QGuiApplication for text.
class OffscreenRenderer {
 public:
  // Nothing, with `error` set, when no such context can be made.
  static std::unique_ptr<OffscreenRenderer> create(std::string* error);
  OffscreenRenderer(const OffscreenRenderer&) = delete;
  OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;
  ~OffscreenRenderer();

  // One frame of `scene` at `size` pixels, premultiplied RGBA.
  QImage render(const Scene& scene, QSize size, Renderer::Stats* stats = nullptr);
  // One frame read back through `readback` (made on this renderer's context), premultiplied
  // ARGB32: the picture `readback` gives, which may be the frame before.
  QImage renderThrough(FrameReadback& readback, const Scene& scene, QSize size, bool latest);
  // Draws without reading back (for timing); finishes the GPU work before returning.
  Renderer::Stats draw(const Scene& scene, QSize size);
  Renderer& renderer() { return *renderer_; }
  // Multisampled unless set otherwise.
  void setAntialiasing(Antialiasing antialiasing) { target_->setAntialiasing(antialiasing); }
  // Whether the driver draws on the CPU.
  bool softwareRendering() const { return software_; }

 private:
  struct Context;
  explicit OffscreenRenderer(std::unique_ptr<Context> context);

  std::unique_ptr<Context> context_;
  std::unique_ptr<Renderer> renderer_;
  std::unique_ptr<RenderTarget> target_;
  bool software_ = false;
};

}  // namespace tallyloft
