#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "hooks/HookEvent.h"

namespace tallyloft {

// Guards against local peers that hold connections open or flood the app with bytes.
struct HookServerLimits {
  // A connection that sends no byte for this long is closed without a reply.
  std::chrono::milliseconds idleTimeout{10'000};
  // Bytes buffered across all open connections; a receive that would pass it closes its
  // connection without a reply.
  std::size_t maxTotalBuffered = 64 * 1024 * 1024;
  // Open connections; a new one beyond this is closed at once.
  std::size_t maxConnections = 512;
};

// The app's one network endpoint: an HTTP/1.1 listener on 127.0.0.1 that takes one request per
// connection, answers every request that has a complete header block with the same fixed
// "200 OK", and hands each body that decodes as a HookEvent to `onEvent`.
//
// The listener and every connection run on the server's own thread; `onEvent` and `onStatus` are
// called there, one at a time, so the owner must hand the work over to its own thread. Set both
// before `start()`. The destructor stops that thread; no callback runs once it has returned.
class HookServer {
 public:
  static constexpr std::uint16_t kPort = 51789;
  static constexpr std::string_view kResponse =
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

  using Limits = HookServerLimits;

  using EventHandler = std::function<void(HookEvent event)>;
  using StatusHandler = std::function<void(bool running, std::string text)>;

  // Does not touch the network. Port 0 binds an ephemeral port (tests).
  explicit HookServer(std::uint16_t port = kPort, Limits limits = Limits{});
  HookServer(const HookServer&) = delete;
  HookServer& operator=(const HookServer&) = delete;
  ~HookServer();

  EventHandler onEvent;
  StatusHandler onStatus;

  // Returns at once; the listener starts on the server's thread. Reports "Listening on
  // 127.0.0.1:PORT", "Failed: …" when the address cannot be bound or the listener fails later,
  // or "Could not start: …" when no socket can be made. Once a listener has been made, later
  // calls do nothing, also after a failure or `stop()`: nothing is ever retried.
  void start();
  // Closes the listener and reports "Stopped". Open connections finish normally.
  void stop();

  std::uint16_t port() const { return port_; }
  // The port the listener is bound to, or 0 before it is listening. Thread-safe.
  std::uint16_t boundPort() const;
  // The number of connections open now. Thread-safe.
  std::size_t openConnections() const;
  // The request bytes the open connections hold now, counted against maxTotalBuffered.
  // Thread-safe.
  std::size_t bufferedBytes() const;

  // The server's state on its thread; opaque outside HookServer.cpp.
  struct Impl;

 private:
  std::uint16_t port_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tallyloft
