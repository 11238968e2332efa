#pragma once

#include <QImage>
#include <QSize>

namespace tallyloft {

// Reads rendered pictures back from the framebuffer bound for reading into premultiplied ARGB32
// images, top row first. Synchronously, or through two pixel-buffer objects one frame behind: the
// GPU copies frame N into one buffer while the CPU takes frame N - 1 from the other, so no frame
// waits for the GPU to finish drawing. Where the driver draws on the CPU there is nothing to
// overlap, and the synchronous path is the cheaper one.
//
// Needs the same current OpenGL context for every call, the destructor included.
class FrameReadback {
 public:
  enum class Mode { synchronous, pixelBuffers };

  explicit FrameReadback(Mode mode) : mode_(mode) {}
  FrameReadback(const FrameReadback&) = delete;
  FrameReadback& operator=(const FrameReadback&) = delete;
  ~FrameReadback();

  Mode mode() const { return mode_; }
  // Starts reading the bound picture of `size` pixels and fills `into` (of that size) with a
  // finished one: through pixel buffers, the frame before this one, unless `latest` is set or
  // there is no frame before of this size (then this one, waiting for it).
  void read(QSize size, QImage& into, bool latest);

 private:
  void release();
  void copyOut(unsigned buffer, QImage& into) const;

  Mode mode_;
  QSize size_;
  unsigned buffers_[2] = {0, 0};
  int next_ = 0;          // the buffer this frame is read into
  bool pending_ = false;  // the other buffer holds the frame before
};

}  // namespace tallyloft
