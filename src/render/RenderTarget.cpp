#include "render/RenderTarget.h"

#include <epoxy/gl.h>

#include <cstring>

namespace tallyloft {

Antialiasing antialiasingFor(bool softwareRendering) {
  return softwareRendering ? Antialiasing::supersample : Antialiasing::multisample;
}

bool currentDriverIsSoftware() {
  const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  if (name == nullptr) return false;
  for (const char* software : {"llvmpipe", "softpipe", "swrast"}) {
    if (std::strstr(name, software) != nullptr) return true;
  }
  return false;
}

RenderTarget::~RenderTarget() {
  release();
}

void RenderTarget::setAntialiasing(Antialiasing antialiasing) {
  antialiasing_ = antialiasing;
}

void RenderTarget::release() {
  if (drawFramebuffer_ == 0) return;
  glDeleteFramebuffers(1, &drawFramebuffer_);
  glDeleteFramebuffers(1, &resolveFramebuffer_);
  glDeleteRenderbuffers(1, &colorBuffer_);
  glDeleteRenderbuffers(1, &depthBuffer_);
  glDeleteRenderbuffers(1, &resolveBuffer_);
  drawFramebuffer_ = resolveFramebuffer_ = colorBuffer_ = depthBuffer_ = resolveBuffer_ = 0;
  size_ = QSize();
}

void RenderTarget::bind(QSize size) {
  if (size != size_ || antialiasing_ != allocated_ || drawFramebuffer_ == 0) {
    release();
    size_ = size;
    allocated_ = antialiasing_;
    const QSize drawn = drawnSize();
    const int samples = antialiasing_ == Antialiasing::multisample ? 4 : 0;
    glGenFramebuffers(1, &drawFramebuffer_);
    glGenFramebuffers(1, &resolveFramebuffer_);
    glGenRenderbuffers(1, &colorBuffer_);
    glGenRenderbuffers(1, &depthBuffer_);
    glGenRenderbuffers(1, &resolveBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, drawn.width(),
                                     drawn.height());
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, drawn.width(),
                                     drawn.height());
    glBindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, resolveBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, size.width(), size.height());
    glBindFramebuffer(GL_FRAMEBUFFER, resolveFramebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                              resolveBuffer_);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer_);
}

void RenderTarget::resolve() {
  const QSize drawn = drawnSize();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, drawFramebuffer_);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFramebuffer_);
  // Halving with linear filtering samples each output pixel's centre, between four drawn pixels:
  // their average.
  glBlitFramebuffer(0, 0, drawn.width(), drawn.height(), 0, 0, size_.width(), size_.height(),
                    GL_COLOR_BUFFER_BIT, drawn == size_ ? GL_NEAREST : GL_LINEAR);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer_);
}

QImage RenderTarget::read() const {
  if (size_.isEmpty()) return {};
  glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer_);
  QImage image(size_, QImage::Format_RGBA8888_Premultiplied);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, size_.width(), size_.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
  return image.mirrored();  // GL rows run bottom-up
}

}  // namespace tallyloft
