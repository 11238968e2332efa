#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <memory>

#include "graph/Scene.h"
#include "render/FrameReadback.h"
#include "render/RenderTarget.h"
#include "render/Renderer.h"

class QOpenGLContext;
class QOffscreenSurface;

namespace tallyloft {

// The office panel's 3D view: draws a Scene at most once per frame interval (16 ms, 60 times a
// second, unless its owner asks for fewer), calling the scene's
// update with the time step first. Renders at `renderScale` pixels per logical pixel (2
// normally, 3 while the magnifier is active) with 4x multisampling (without a GPU: supersampled
// 2x2, which costs llvmpipe far less for the same picture) into its own offscreen OpenGL context,
// reads the picture back (with a GPU, one frame behind, so that no frame waits for the GPU) and
// paints it scaled onto the widget. The window thus stays an ordinary raster window: no second
// context composes it, which matters most where the GL driver draws on the CPU. A paused view draws
// no frames at all and keeps its last picture. Main-thread only; the scene must outlive the view.
class RenderView : public QWidget {
  Q_OBJECT

 public:
  explicit RenderView(Scene& scene, QWidget* parent = nullptr);
  ~RenderView() override;

  void setPaused(bool paused);
  bool isPaused() const { return paused_; }
  // The time from one frame to the next; the next frame already due is not delayed.
  void setFrameInterval(std::chrono::microseconds interval);
  void setRenderScale(double scale);
  double renderScale() const { return renderScale_; }
  // Whether the GL driver draws on the CPU (Mesa's llvmpipe, softpipe or swrast); known once the
  // view has drawn its first frame.
  bool softwareRendering() const { return software_; }
  // The last frame drawn, premultiplied ARGB at the render scale, top row first.
  QImage snapshot() const { return frame_; }

 signals:
  // After each frame has been drawn.
  void frameRendered();
  // Once the GL context is up; `software` as softwareRendering().
  void rendererKnown(bool software);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Makes the context current, creating it and the renderer on first use. False when OpenGL
  // 3.3 cannot be had; the view then stays empty.
  bool makeCurrent();
  void drawFrame();

  Scene& scene_;
  std::unique_ptr<QOpenGLContext> context_;
  std::unique_ptr<QOffscreenSurface> surface_;
  std::unique_ptr<Renderer> renderer_;
  std::unique_ptr<RenderTarget> target_;
  std::unique_ptr<FrameReadback> readback_;
  bool failed_ = false;
  QImage frame_;
  QImage spare_;                // the picture before, while the magnifier may still hold it
  qint64 interval_ = 16666667;  // nanoseconds
  QElapsedTimer cadence_;
  qint64 nextDue_ = 0;  // when the next frame is due on the cadence, in nanoseconds
  QTimer nextFrame_;
  QElapsedTimer clock_;
  bool paused_ = false;
  bool software_ = false;
  double renderScale_ = 2;
};

}  // namespace tallyloft
