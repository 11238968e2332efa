#include "render/FrameReadback.h"

#include <epoxy/gl.h>

#include <cstring>

namespace tallyloft {
namespace {

// As 32-bit words 0xAARRGGBB, the layout of a premultiplied ARGB32 image whatever the byte order.
void readInto(QSize size, void* pixels) {
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, size.width(), size.height(), GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
}

}  // namespace

FrameReadback::~FrameReadback() {
  release();
}

void FrameReadback::release() {
  if (buffers_[0] != 0) glDeleteBuffers(2, buffers_);
  buffers_[0] = buffers_[1] = 0;
  pending_ = false;
  size_ = QSize();
}

void FrameReadback::read(QSize size, QImage& into, bool latest) {
  if (mode_ == Mode::synchronous) {
    readInto(size, into.bits());
    into.mirror();  // GL rows run bottom-up
    return;
  }
  if (size != size_) {
    release();
    size_ = size;
    glGenBuffers(2, buffers_);
    for (unsigned buffer : buffers_) {
      glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
      glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(size.width()) * size.height() * 4,
                   nullptr, GL_STREAM_READ);
    }
  }
  const int reading = next_;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers_[reading]);
  readInto(size, nullptr);  // into the buffer: returns before the copy is done
  const int taken = latest || !pending_ ? reading : 1 - reading;
  next_ = 1 - next_;
  pending_ = true;
  copyOut(buffers_[taken], into);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

void FrameReadback::copyOut(unsigned buffer, QImage& into) const {
  const int width = size_.width();
  const int height = size_.height();
  const std::size_t row = static_cast<std::size_t>(width) * 4;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
  const auto* pixels = static_cast<const unsigned char*>(glMapBufferRange(
      GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(row) * height, GL_MAP_READ_BIT));
  if (pixels == nullptr) return;  // the driver could not: the picture stays as it was
  for (int y = 0; y < height; ++y) {
    std::memcpy(into.scanLine(height - 1 - y), pixels + static_cast<std::size_t>(y) * row, row);
  }
  glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
}

}  // namespace tallyloft
