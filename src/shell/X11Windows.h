#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace tallyloft {

// The few EWMH questions and requests that bringing a terminal forward needs, on the X11 (or
// XWayland) display the app itself runs on. Every call is a short round trip to the X server;
// main-thread only. Without an X11 display (another Qt platform) `available()` is false and
// every question has no answer.
class X11Windows {
 public:
  using Window = std::uint32_t;

  // The application's own connection (Qt's xcb platform), or none.
  X11Windows();
  // A connection of the caller's (tests).
  explicit X11Windows(xcb_connection_t* connection);

  bool available() const { return connection_ != nullptr; }
  // The top-level windows the window manager manages (_NET_CLIENT_LIST).
  std::vector<Window> clients() const;
  // The managed top-level window that holds `window` (itself, or the nearest ancestor that is a
  // client); none when `window` does not exist on this display.
  std::optional<Window> clientHolding(Window window) const;
  // The first client whose _NET_WM_PID is one of `pids`, tried in order (nearest first).
  std::optional<Window> clientOfProcesses(const std::vector<std::int64_t>& pids) const;
  // _NET_ACTIVE_WINDOW of the root window.
  std::optional<Window> activeWindow() const;
  // Asks the window manager to activate `window` (a _NET_ACTIVE_WINDOW request from a pager,
  // source indication 2) and raises it.
  void activate(Window window) const;

  // Before `window` is mapped: on every workspace (EWMH sticky: _NET_WM_DESKTOP 0xFFFFFFFF and
  // _NET_WM_STATE_STICKY) and off the taskbar and the pager, keeping the states already set.
  void setOnEveryWorkspace(Window window) const;
  // Hands a launch's activation token to the window manager with `window` (_NET_STARTUP_ID), so
  // that the window may take focus as that launch asked.
  void setStartupId(Window window, const std::string& token) const;
  // Once `window` is mapped: asks the window manager to keep it on every workspace (a
  // _NET_WM_DESKTOP request), in case the toolkit set the current workspace while mapping it.
  void requestOnEveryWorkspace(Window window) const;
  // The atoms of a window's _NET_WM_STATE, by name (tests), and its _NET_WM_DESKTOP.
  std::vector<std::string> states(Window window) const;
  std::optional<std::uint32_t> desktop(Window window) const;

  // Whether `window` is full screen (_NET_WM_STATE_FULLSCREEN).
  bool fullScreen(Window window) const;
  // Where `window` is on the root window, as x, y, width, height; none when it is gone.
  std::optional<std::array<int, 4>> frame(Window window) const;
  // Adds property changes of `window` to the events this connection gets, keeping the others
  // it selected.
  void followProperties(Window window) const;
  // The root window and the atom of a name, for reading events.
  Window rootWindow() const { return available() ? root() : 0; }
  std::uint32_t atomNamed(const char* name) const { return available() ? atom(name) : 0; }

  // Whether the X server named by DISPLAY accepts a connection.
  static bool canConnect();

  // `pid` and its ancestors, nearest first, as /proc tells them (at most 64).
  static std::vector<std::int64_t> processAndAncestors(std::int64_t pid);

 private:
  std::uint32_t atom(const char* name) const;
  // The atoms of a window's _NET_WM_STATE.
  std::vector<std::uint32_t> stateAtoms(Window window) const;
  std::optional<std::uint32_t> cardinal(Window window, std::uint32_t property,
                                        std::uint32_t type) const;
  Window root() const;

  xcb_connection_t* connection_ = nullptr;
};

}  // namespace tallyloft
