// epoxy must come before any other OpenGL header, Qt's included.
#include <epoxy/gl.h>

#include "shell/RenderView.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QTimer>
#include <cmath>

namespace tallyloft {

RenderView::RenderView(Scene& scene, QWidget* parent) : QOpenGLWidget(parent), scene_(scene) {
  QSurfaceFormat format;
  format.setVersion(3, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  format.setAlphaBufferSize(8);
  setFormat(format);
  setAttribute(Qt::WA_TranslucentBackground);
  // Each frame asks for the next one while the view runs, at most 60 a second even where nothing
  // waits for the display's refresh (a virtual display, some drivers).
  connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
    if (paused_) return;
    const qint64 wait = kFrameMilliseconds - sinceFrame_.elapsed();
    if (wait > 0) {
      QTimer::singleShot(static_cast<int>(wait), Qt::PreciseTimer, this, [this] {
        if (!paused_) update();
      });
    } else {
      update();
    }
  });
}

RenderView::~RenderView() {
  releaseGl();
}

void RenderView::releaseGl() {
  makeCurrent();
  renderer_.reset();
  target_.reset();
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
  // Qt may replace the context (reparenting): release our GL objects while the old one is current.
  connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &RenderView::releaseGl,
          Qt::UniqueConnection);
  renderer_ = std::make_unique<Renderer>();
  target_ = std::make_unique<MultisampleTarget>();
  clock_.start();
  sinceFrame_.start();
  const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const QByteArray renderer(name != nullptr ? name : "");
  software_ = renderer.contains("llvmpipe") || renderer.contains("softpipe");
  emit rendererKnown(software_);
}

void RenderView::paintGL() {
  if (!renderer_) return;
  // Qt repaints the view with its window for reasons of its own, more often than the display
  // refreshes where nothing waits for it: the last frame stays in the framebuffer meanwhile.
  if (drawn_ && !paused_ && sinceFrame_.elapsed() < kFrameMilliseconds - 2) return;
  drawn_ = true;
  sinceFrame_.restart();
  const double step = paused_ ? 0 : static_cast<double>(clock_.restart()) / 1000.0;
  if (!paused_) scene_.update(step);
  const QSize size(std::max(1, static_cast<int>(std::lround(width() * renderScale_))),
                   std::max(1, static_cast<int>(std::lround(height() * renderScale_))));
  target_->bind(size);
  renderer_->render(scene_, size.width(), size.height());
  target_->resolve();
  // Scale the picture onto the widget's own framebuffer.
  const QSize device = QSize(width(), height()) * devicePixelRatio();
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, defaultFramebufferObject());
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, device.width(), device.height(),
                    GL_COLOR_BUFFER_BIT, GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
  emit frameRendered();
}

QImage RenderView::snapshot() {
  if (!target_) return {};
  makeCurrent();
  QImage image = target_->read();
  doneCurrent();
  return image;
}

}  // namespace tallyloft
