// epoxy must come before any other OpenGL header, Qt's included.
#include <epoxy/gl.h>

#include "shell/RenderView.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <QSurfaceFormat>
#include <cmath>
#include <cstdio>
#include <exception>

#include "render/FreedMemory.h"

namespace tallyloft {

RenderView::RenderView(Scene& scene, QWidget* parent) : QWidget(parent), scene_(scene) {
  // Every pixel is painted from the picture; the panel's backdrop shows through its alpha.
  setAttribute(Qt::WA_NoSystemBackground);
  cadence_.start();
  nextFrame_.setSingleShot(true);
  nextFrame_.setTimerType(Qt::PreciseTimer);
  connect(&nextFrame_, &QTimer::timeout, this, [this] {
    if (!paused_) update();
  });
}

RenderView::~RenderView() {
  if (context_ && context_->makeCurrent(surface_.get())) {
    renderer_.reset();
    target_.reset();
    readback_.reset();
    context_->doneCurrent();
  }
}

void RenderView::setPaused(bool paused) {
  if (paused_ == paused) return;
  paused_ = paused;
  if (paused_) {
    nextFrame_.stop();
    releaseFreedMemory();  // kept for the next frame's draw calls; none is coming soon
  } else {
    clock_.restart();
    nextDue_ = cadence_.nsecsElapsed();
    update();
  }
}

void RenderView::setFrameInterval(std::chrono::microseconds interval) {
  interval_ = std::clamp<qint64>(interval.count(), 1000, 1000000) * 1000;
}

void RenderView::setRenderScale(double scale) {
  renderScale_ = std::clamp(scale, 1.0, 4.0);
  update();
}

bool RenderView::makeCurrent() {
  if (context_) return context_->makeCurrent(surface_.get());
  if (failed_) return false;
  failed_ = true;  // until everything below has worked
  QSurfaceFormat format;
  format.setVersion(3, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  auto context = std::make_unique<QOpenGLContext>();
  context->setFormat(format);
  auto surface = std::make_unique<QOffscreenSurface>();
  surface->setFormat(format);
  surface->create();
  if (!context->create() || !surface->isValid() || !context->makeCurrent(surface.get())) {
    std::fprintf(stderr, "tallyloft: no OpenGL 3.3 context for the office\n");
    return false;
  }
  try {
    renderer_ = std::make_unique<Renderer>();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tallyloft: %s\n", error.what());
    context->doneCurrent();
    return false;
  }
  software_ = currentDriverIsSoftware();
  target_ = std::make_unique<RenderTarget>(antialiasingFor(software_));
  context_ = std::move(context);
  surface_ = std::move(surface);
  failed_ = false;
  clock_.start();
  readback_ = std::make_unique<FrameReadback>(software_ ? FrameReadback::Mode::synchronous
                                                        : FrameReadback::Mode::pixelBuffers);
  emit rendererKnown(software_);
  return true;
}

void RenderView::drawFrame() {
  if (!makeCurrent()) return;
  const double step = static_cast<double>(clock_.restart()) / 1000.0;
  scene_.update(step);
  const QSize size(std::max(1, static_cast<int>(std::lround(width() * renderScale_))),
                   std::max(1, static_cast<int>(std::lround(height() * renderScale_))));
  target_->bind(size);
  const QSize drawn = target_->drawnSize();
  renderer_->render(scene_, drawn.width(), drawn.height(), target_->pixelsPerOutputPixel());
  target_->resolve();
  // A picture still shared (the magnifier holds the last one) is left alone: read into the
  // other buffer, which the magnifier let go of when it took this one.
  if (!frame_.isDetached()) std::swap(frame_, spare_);
  if (frame_.size() != size || !frame_.isDetached()) {
    frame_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
    if (frame_.isNull()) {  // out of memory: nothing to show
      context_->doneCurrent();
      return;
    }
    frame_.fill(Qt::transparent);  // what shows should the driver fail to read back
  }
  // A frame after which the clock stops (the office froze in it) is the one left on screen: it
  // is read at once rather than one frame behind.
  readback_->read(size, frame_, paused_);
  context_->doneCurrent();
  emit frameRendered();
}

void RenderView::paintEvent(QPaintEvent* /*event*/) {
  // Qt also repaints the view for reasons of its own (exposure, the hint above it): a frame is
  // drawn only when one is due, and the last picture is shown otherwise.
  // Frames keep to a cadence, not to the time since the last one: the rate asked for is the rate
  // drawn, whatever each frame costs below it.
  constexpr qint64 kSlack = 1000000;  // a timer may fire a millisecond early
  const qint64 now = cadence_.nsecsElapsed();
  const bool due = !paused_ && (frame_.isNull() || now + kSlack >= nextDue_);
  if (due) {
    drawFrame();
    nextDue_ = std::max(nextDue_ + interval_, now);
  }
  QPainter painter(this);
  if (frame_.isNull()) {
    painter.fillRect(rect(), palette().window());
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, frame_.size() != size());
    painter.drawImage(rect(), frame_);
  }
  if (!paused_ && context_ && !nextFrame_.isActive()) {
    const qint64 wait = (nextDue_ - cadence_.nsecsElapsed()) / 1000000;
    nextFrame_.start(static_cast<int>(std::max<qint64>(wait, 0)));
  }
}

}  // namespace tallyloft
