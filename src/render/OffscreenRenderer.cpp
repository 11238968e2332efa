#include "render/OffscreenRenderer.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

namespace tallyloft {

struct OffscreenRenderer::Context {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  ~Context() {
    if (display == EGL_NO_DISPLAY) return;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    eglTerminate(display);
  }
};

std::unique_ptr<OffscreenRenderer> OffscreenRenderer::create(std::string* error) {
  auto context = std::make_unique<Context>();
  const auto fail = [&](const char* why) {
    if (error != nullptr) *error = why;
    return nullptr;
  };
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay == nullptr)
    return fail("EGL has no platform displays (eglGetPlatformDisplayEXT)");
  context->display =
      getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (context->display == EGL_NO_DISPLAY || !eglInitialize(context->display, nullptr, nullptr)) {
    context->display = EGL_NO_DISPLAY;
    return fail("no surfaceless EGL display (is Mesa's libegl-mesa0 installed?)");
  }
  if (!eglBindAPI(EGL_OPENGL_API)) return fail("EGL cannot bind OpenGL");
  const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  eglChooseConfig(context->display, configAttributes, &config, 1, &count);
  const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                      3,
                                      EGL_CONTEXT_MINOR_VERSION,
                                      3,
                                      EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                      EGL_NONE};
  context->context = eglCreateContext(context->display, count > 0 ? config : EGL_NO_CONFIG_KHR,
                                      EGL_NO_CONTEXT, contextAttributes);
  if (context->context == EGL_NO_CONTEXT) return fail("no OpenGL 3.3 core context on EGL");
  if (!eglMakeCurrent(context->display, EGL_NO_SURFACE, EGL_NO_SURFACE, context->context)) {
    return fail("the EGL context cannot be made current without a surface");
  }
  return std::unique_ptr<OffscreenRenderer>(new OffscreenRenderer(std::move(context)));
}

OffscreenRenderer::OffscreenRenderer(std::unique_ptr<Context> context)
    : context_(std::move(context)),
      renderer_(std::make_unique<Renderer>()),
      target_(std::make_unique<RenderTarget>()),
      software_(currentDriverIsSoftware()) {}

OffscreenRenderer::~OffscreenRenderer() {
  eglMakeCurrent(context_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_->context);
  renderer_.reset();
  target_.reset();
}

Renderer::Stats OffscreenRenderer::draw(const Scene& scene, QSize size) {
  eglMakeCurrent(context_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_->context);
  target_->bind(size);
  const QSize drawn = target_->drawnSize();
  const Renderer::Stats stats =
      renderer_->render(scene, drawn.width(), drawn.height(), target_->pixelsPerOutputPixel());
  glFinish();
  return stats;
}

QImage OffscreenRenderer::render(const Scene& scene, QSize size, Renderer::Stats* stats) {
  const Renderer::Stats drawn = draw(scene, size);
  if (stats != nullptr) *stats = drawn;
  target_->resolve();
  return target_->read();
}

QImage OffscreenRenderer::renderThrough(FrameReadback& readback, const Scene& scene, QSize size,
                                        bool latest) {
  draw(scene, size);
  target_->resolve();
  QImage picture(size, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::transparent);
  readback.read(size, picture, latest);
  return picture;
}

}  // namespace tallyloft
