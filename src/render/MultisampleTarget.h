#pragma once

#include <QImage>
#include <QSize>

namespace tallyloft {

// A 4x multisampled colour and depth framebuffer with a single-sample copy it resolves into.
// Needs its OpenGL context current for every call, the destructor included.
class MultisampleTarget {
 public:
  MultisampleTarget() = default;
  MultisampleTarget(const MultisampleTarget&) = delete;
  MultisampleTarget& operator=(const MultisampleTarget&) = delete;
  ~MultisampleTarget();

  // (Re)allocates the buffers when the size changes and binds the multisampled one for drawing.
  void bind(QSize size);
  // Resolves the samples into the single-sample copy and leaves that bound for reading.
  void resolve();
  // The resolved picture (after `resolve()`), premultiplied RGBA, top row first.
  QImage read() const;
  unsigned resolvedFramebuffer() const { return resolveFramebuffer_; }
  QSize size() const { return size_; }

 private:
  void release();

  QSize size_;
  unsigned multisampleFramebuffer_ = 0;
  unsigned colorBuffer_ = 0;
  unsigned depthBuffer_ = 0;
  unsigned resolveFramebuffer_ = 0;
  unsigned resolveBuffer_ = 0;
};

}  // namespace tallyloft
