#pragma once

#include <vector>

namespace tallyloft {

// A framebuffer that keeps part of a picture drawn (colour and depth, multisampled like the
// frame it goes under) together with a description of what it holds, so that it is drawn anew
// only when that changes. Needs the same current OpenGL context for every call, the destructor
// included.
class StillLayer {
 public:
  StillLayer() = default;
  StillLayer(const StillLayer&) = delete;
  StillLayer& operator=(const StillLayer&) = delete;
  ~StillLayer();

  // Whether it was drawn at this size and sample count from exactly `contents`.
  bool holds(int width, int height, int samples, const std::vector<unsigned char>& contents) const;
  // Binds its framebuffer (allocated like the frame's) to draw `contents` into anew.
  void redraw(int width, int height, int samples, const std::vector<unsigned char>& contents);
  // Copies it, colour and depth, into the framebuffer `target` and leaves that bound.
  void copyTo(unsigned target) const;
  // Forgets what it holds: it is drawn anew next time.
  void forget() { contents_.clear(); }
  void release();

 private:
  unsigned framebuffer_ = 0, color_ = 0, depth_ = 0;
  int width_ = 0, height_ = 0, samples_ = -1;
  std::vector<unsigned char> contents_;
};

}  // namespace tallyloft
