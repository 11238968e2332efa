// epoxy must come before any other OpenGL header, Qt's included.
#include <epoxy/gl.h>

#include "shell/RenderView.h"

#include <QSurfaceFormat>
#include <cmath>

namespace tallyloft {

RenderView::RenderView(Scene& scene, QWidget* parent) : QOpenGLWidget(parent), scene_(scene) {
  QSurfaceFormat format;
  format.setVersion(3, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  format.setAlphaBufferSize(8);
  setFormat(format);
  setAttribute(Qt::WA_TranslucentBackground);
  // Each frame asks for the next one while the view runs.
  connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
    if (!paused_) update();
  });
}

RenderView::~RenderView() {
  makeCurrent();
  renderer_.reset();
  releaseTargets();
  doneCurrent();
}

void RenderView::setPaused(bool paused) {
  if (paused_ == paused) return;
  paused_ = paused;
  if (!paused_) {
    clock_.restart();
    update();
  }
}

void RenderView::setRenderScale(double scale) {
  renderScale_ = std::clamp(scale, 1.0, 4.0);
  update();
}

void RenderView::initializeGL() {
  renderer_ = std::make_unique<Renderer>();
  clock_.start();
}

void RenderView::releaseTargets() {
  glDeleteFramebuffers(1, &multisampleFramebuffer_);
  glDeleteFramebuffers(1, &resolveFramebuffer_);
  glDeleteRenderbuffers(1, &colorBuffer_);
  glDeleteRenderbuffers(1, &depthBuffer_);
  glDeleteRenderbuffers(1, &resolveBuffer_);
  multisampleFramebuffer_ = resolveFramebuffer_ = colorBuffer_ = depthBuffer_ = resolveBuffer_ = 0;
  targetSize_ = QSize();
}

void RenderView::ensureTargets(QSize size) {
  if (size == targetSize_) return;
  releaseTargets();
  targetSize_ = size;
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
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, resolveBuffer_);
}

void RenderView::paintGL() {
  if (!renderer_) return;
  const double step = paused_ ? 0 : static_cast<double>(clock_.restart()) / 1000.0;
  if (!paused_) scene_.update(step);
  const QSize size(std::max(1, static_cast<int>(std::lround(width() * renderScale_))),
                   std::max(1, static_cast<int>(std::lround(height() * renderScale_))));
  ensureTargets(size);
  glBindFramebuffer(GL_FRAMEBUFFER, multisampleFramebuffer_);
  renderer_->render(scene_, size.width(), size.height());
  glBindFramebuffer(GL_READ_FRAMEBUFFER, multisampleFramebuffer_);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFramebuffer_);
  glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, size.width(), size.height(),
                    GL_COLOR_BUFFER_BIT, GL_NEAREST);
  // Scale the picture onto the widget's own framebuffer.
  const QSize device = QSize(width(), height()) * devicePixelRatio();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer_);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, defaultFramebufferObject());
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, device.width(), device.height(),
                    GL_COLOR_BUFFER_BIT, GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
  emit frameRendered();
}

QImage RenderView::snapshot() {
  if (targetSize_.isEmpty()) return {};
  makeCurrent();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer_);
  QImage image(targetSize_, QImage::Format_RGBA8888_Premultiplied);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, targetSize_.width(), targetSize_.height(), GL_RGBA, GL_UNSIGNED_BYTE,
               image.bits());
  glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
  doneCurrent();
  return image.mirrored();
}

}  // namespace tallyloft
