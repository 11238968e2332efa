#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QOpenGLWidget>
#include <memory>

#include "graph/Scene.h"
#include "render/MultisampleTarget.h"
#include "render/Renderer.h"

namespace tallyloft {

// The office panel's 3D view: draws a Scene every displayed frame, calling the scene's update
// with the time step first. Renders at `renderScale` device pixels per logical pixel (2
// normally, 3 while the magnifier is active) with 4x multisampling, then scales the picture to
// the widget. A paused view draws no frames at all and keeps its last picture. Main-thread only;
// the scene must outlive the view.
class RenderView : public QOpenGLWidget {
  Q_OBJECT

 public:
  explicit RenderView(Scene& scene, QWidget* parent = nullptr);
  ~RenderView() override;

  void setPaused(bool paused);
  bool isPaused() const { return paused_; }
  void setRenderScale(double scale);
  double renderScale() const { return renderScale_; }
  // Whether the GL driver draws on the CPU (Mesa's llvmpipe or softpipe); known once the view has
  // been shown.
  bool softwareRendering() const { return software_; }
  // The last frame drawn, premultiplied RGBA at the render scale.
  QImage snapshot();

 signals:
  // After each frame has been drawn.
  void frameRendered();
  // Once the GL context is up; `software` as softwareRendering().
  void rendererKnown(bool software);

 protected:
  void initializeGL() override;
  void paintGL() override;

 private:
  // Releases the GL objects while their context is current.
  void releaseGl();

  Scene& scene_;
  std::unique_ptr<Renderer> renderer_;
  static constexpr qint64 kFrameMilliseconds = 16;
  QElapsedTimer clock_;
  QElapsedTimer sinceFrame_;
  bool paused_ = false;
  bool software_ = false;
  bool drawn_ = false;  // a frame is in the framebuffer
  double renderScale_ = 2;
  std::unique_ptr<MultisampleTarget> target_;
};

}  // namespace tallyloft
