#include "render/StillLayer.h"

#include <epoxy/gl.h>

namespace tallyloft {

StillLayer::~StillLayer() {
  release();
}

void StillLayer::release() {
  if (framebuffer_ == 0) return;
  glDeleteFramebuffers(1, &framebuffer_);
  glDeleteRenderbuffers(1, &color_);
  glDeleteRenderbuffers(1, &depth_);
  framebuffer_ = color_ = depth_ = 0;
  width_ = height_ = 0;
  samples_ = -1;
  contents_.clear();
}

bool StillLayer::holds(int width, int height, int samples,
                       const std::vector<unsigned char>& contents) const {
  return framebuffer_ != 0 && width == width_ && height == height_ && samples == samples_ &&
         !contents_.empty() && contents == contents_;
}

void StillLayer::redraw(int width, int height, int samples,
                        const std::vector<unsigned char>& contents) {
  if (framebuffer_ == 0 || width != width_ || height != height_ || samples != samples_) {
    release();
    width_ = width, height_ = height, samples_ = samples;
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(1, &color_);
    glGenRenderbuffers(1, &depth_);
    glBindRenderbuffer(GL_RENDERBUFFER, color_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
  }
  contents_ = contents;
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
}

void StillLayer::copyTo(unsigned target) const {
  glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
  glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_,
                    GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT, GL_NEAREST);
  glBindFramebuffer(GL_FRAMEBUFFER, target);
}

}  // namespace tallyloft
