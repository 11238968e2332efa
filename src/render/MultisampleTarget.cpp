#include "render/MultisampleTarget.h"

#include <epoxy/gl.h>

namespace tallyloft {

MultisampleTarget::~MultisampleTarget() {
  release();
}

void MultisampleTarget::release() {
  if (multisampleFramebuffer_ == 0) return;
  glDeleteFramebuffers(1, &multisampleFramebuffer_);
  glDeleteFramebuffers(1, &resolveFramebuffer_);
  glDeleteRenderbuffers(1, &colorBuffer_);
  glDeleteRenderbuffers(1, &depthBuffer_);
  glDeleteRenderbuffers(1, &resolveBuffer_);
  multisampleFramebuffer_ = resolveFramebuffer_ = colorBuffer_ = depthBuffer_ = resolveBuffer_ = 0;
  size_ = QSize();
}

void MultisampleTarget::bind(QSize size) {
  if (size != size_) {
    release();
    size_ = size;
    glGenFramebuffers(1, &multisampleFramebuffer_);
    glGenFramebuffers(1, &resolveFramebuffer_);
    glGenRenderbuffers(1, &colorBuffer_);
    glGenRenderbuffers(1, &depthBuffer_);
    glGenRenderbuffers(1, &resolveBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, 4, GL_RGBA8, size.width(), size.height());
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, 4, GL_DEPTH_COMPONENT24, size.width(),
                                     size.height());
    glBindFramebuffer(GL_FRAMEBUFFER, multisampleFramebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, resolveBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, size.width(), size.height());
    glBindFramebuffer(GL_FRAMEBUFFER, resolveFramebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                              resolveBuffer_);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, multisampleFramebuffer_);
}

void MultisampleTarget::resolve() {
  glBindFramebuffer(GL_READ_FRAMEBUFFER, multisampleFramebuffer_);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFramebuffer_);
  glBlitFramebuffer(0, 0, size_.width(), size_.height(), 0, 0, size_.width(), size_.height(),
                    GL_COLOR_BUFFER_BIT, GL_NEAREST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer_);
}

QImage MultisampleTarget::read() const {
  if (size_.isEmpty()) return {};
  glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer_);
  QImage image(size_, QImage::Format_RGBA8888_Premultiplied);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, size_.width(), size_.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
  return image.mirrored();  // GL rows run bottom-up
}

}  // namespace tallyloft
