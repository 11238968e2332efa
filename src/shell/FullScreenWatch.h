#pragma once

#include <QAbstractNativeEventFilter>
#include <QRect>
#include <functional>

#include "shell/X11Windows.h"

namespace tallyloft {

// Tells when the active window is full screen on a given screen (a video, a presentation, a
// game), from the X server's own property-change events: _NET_ACTIVE_WINDOW on the root window
// and _NET_WM_STATE on the active window. No polling; nothing at all without X11.
// Main-thread only.
class FullScreenWatch : public QAbstractNativeEventFilter {
 public:
  // `screen` is the screen to watch (the office panel's), asked again at each change;
  // `onChange(covered)` runs when the answer changes.
  FullScreenWatch(std::function<QRect()> screen, std::function<void(bool covered)> onChange);
  ~FullScreenWatch() override;
  FullScreenWatch(const FullScreenWatch&) = delete;
  FullScreenWatch& operator=(const FullScreenWatch&) = delete;

  bool covered() const { return covered_; }
  // Looks again (the panel moved to another screen).
  void recheck();

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void followActiveWindow();

  X11Windows x11_;
  std::function<QRect()> screen_;
  std::function<void(bool)> onChange_;
  X11Windows::Window root_ = 0;
  X11Windows::Window active_ = 0;
  std::uint32_t activeAtom_ = 0;
  std::uint32_t stateAtom_ = 0;
  bool covered_ = false;
};

}  // namespace tallyloft
