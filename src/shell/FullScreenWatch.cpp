#include "shell/FullScreenWatch.h"

#include <xcb/xcb.h>

#include <QCoreApplication>

namespace tallyloft {

FullScreenWatch::FullScreenWatch(std::function<QRect()> screen,
                                 std::function<void(bool covered)> onChange)
    : screen_(std::move(screen)), onChange_(std::move(onChange)) {
  if (!x11_.available()) return;
  root_ = x11_.rootWindow();
  activeAtom_ = x11_.atomNamed("_NET_ACTIVE_WINDOW");
  stateAtom_ = x11_.atomNamed("_NET_WM_STATE");
  x11_.followProperties(root_);
  QCoreApplication::instance()->installNativeEventFilter(this);
  followActiveWindow();
}

FullScreenWatch::~FullScreenWatch() {
  if (x11_.available() && QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeNativeEventFilter(this);
  }
}

bool FullScreenWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY) return false;
  const auto* change = static_cast<const xcb_property_notify_event_t*>(message);
  if (change->window == root_ && change->atom == activeAtom_) {
    followActiveWindow();
  } else if (change->window == active_ && change->atom == stateAtom_) {
    recheck();
  }
  return false;  // others may want it too
}

void FullScreenWatch::followActiveWindow() {
  const X11Windows::Window active = x11_.activeWindow().value_or(0);
  if (active != active_) {
    active_ = active;
    if (active_ != 0) x11_.followProperties(active_);
  }
  recheck();
}

void FullScreenWatch::recheck() {
  bool covered = false;
  if (active_ != 0 && x11_.fullScreen(active_)) {
    if (const auto frame = x11_.frame(active_)) {
      const QRect window((*frame)[0], (*frame)[1], (*frame)[2], (*frame)[3]);
      covered = screen_().contains(window.center());
    }
  }
  if (covered == covered_) return;
  covered_ = covered;
  if (onChange_) onChange_(covered_);
}

}  // namespace tallyloft
