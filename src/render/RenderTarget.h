#pragma once

#include <QImage>
#include <QSize>

namespace tallyloft {

// How a target smooths edges.
enum class Antialiasing {
  multisample,  // four samples a pixel
  // Drawn at twice the width and height without samples and averaged down. A driver that
  // rasterizes on the CPU pays for every sample of every triangle, and the office's small parts
  // are many triangles: there this is the cheaper way to the same picture.
  supersample,
};

// The antialiasing the app draws with: supersampling where the driver draws on the CPU.
Antialiasing antialiasingFor(bool softwareRendering);
// Whether the current context's driver draws on the CPU (llvmpipe, softpipe, swrast).
bool currentDriverIsSoftware();

// A colour and depth framebuffer to draw into, antialiased as asked, with a single-sample copy of
// the output size it resolves into. Needs its OpenGL context current for every call, the
// destructor included.
class RenderTarget {
 public:
  explicit RenderTarget(Antialiasing antialiasing = Antialiasing::multisample)
      : antialiasing_(antialiasing) {}
  RenderTarget(const RenderTarget&) = delete;
  RenderTarget& operator=(const RenderTarget&) = delete;
  ~RenderTarget();

  Antialiasing antialiasing() const { return antialiasing_; }
  // Takes effect at the next bind.
  void setAntialiasing(Antialiasing antialiasing);
  // Pixels drawn along each side of an output pixel: 2 when supersampling, otherwise 1.
  int pixelsPerOutputPixel() const { return antialiasing_ == Antialiasing::supersample ? 2 : 1; }

  // (Re)allocates the buffers when the output size or the antialiasing changed and binds the
  // framebuffer to draw into, of drawnSize() pixels.
  void bind(QSize size);
  QSize drawnSize() const { return size_ * pixelsPerOutputPixel(); }
  // Resolves what was drawn into the single-sample copy of the output size and leaves that bound
  // for reading.
  void resolve();
  // The resolved picture (after `resolve()`), premultiplied RGBA, top row first.
  QImage read() const;
  unsigned resolvedFramebuffer() const { return resolveFramebuffer_; }
  QSize size() const { return size_; }

 private:
  void release();

  Antialiasing antialiasing_;
  Antialiasing allocated_ = Antialiasing::multisample;  // what the buffers were made for
  QSize size_;
  unsigned drawFramebuffer_ = 0;
  unsigned colorBuffer_ = 0;
  unsigned depthBuffer_ = 0;
  unsigned resolveFramebuffer_ = 0;
  unsigned resolveBuffer_ = 0;
};

}  // namespace tallyloft
