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
    : context_(std::move(context)), renderer_(std::make_unique<Renderer>()) {}

OffscreenRenderer::~OffscreenRenderer() {
  eglMakeCurrent(context_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_->context);
  renderer_.reset();
  glDeleteFramebuffers(1, &multisampleFramebuffer_);
  glDeleteFramebuffers(1, &resolveFramebuffer_);
  glDeleteRenderbuffers(1, &colorBuffer_);
  glDeleteRenderbuffers(1, &depthBuffer_);
  glDeleteRenderbuffers(1, &resolveBuffer_);
}

void OffscreenRenderer::ensureTargets(QSize size) {
  if (size == size_) return;
  size_ = size;
  if (multisampleFramebuffer_ == 0) {
    glGenFramebuffers(1, &multisampleFramebuffer_);
    glGenFramebuffers(1, &resolveFramebuffer_);
    glGenRenderbuffers(1, &colorBuffer_);
    glGenRenderbuffers(1, &depthBuffer_);
    glGenRenderbuffers(1, &resolveBuffer_);
  }
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

Renderer::Stats OffscreenRenderer::draw(const Scene& scene, QSize size) {
  eglMakeCurrent(context_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_->context);
  ensureTargets(size);
  glBindFramebuffer(GL_FRAMEBUFFER, multisampleFramebuffer_);
  const Renderer::Stats stats = renderer_->render(scene, size.width(), size.height());
  glFinish();
  return stats;
}

QImage OffscreenRenderer::render(const Scene& scene, QSize size, Renderer::Stats* stats) {
  const Renderer::Stats drawn = draw(scene, size);
  if (stats != nullptr) *stats = drawn;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, multisampleFramebuffer_);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFramebuffer_);
  glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, size.width(), size.height(),
                    GL_COLOR_BUFFER_BIT, GL_NEAREST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer_);
  QImage image(size, QImage::Format_RGBA8888_Premultiplied);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, size.width(), size.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
  return image.mirrored();  // GL rows run bottom-up
}

}  // namespace tallyloft
