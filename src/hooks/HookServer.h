#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
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

// Where the hook server listens.
struct HookListen {
  // The Unix socket the hooks post to, in the user's runtime folder; none: no socket (tests).
  std::optional<std::filesystem::path> socket{};
  // A TCP port on 127.0.0.1, for agents in containers and VMs; none: no port. 0 binds an
  // ephemeral port (tests).
  std::optional<std::uint16_t> port{};
  // What every request over TCP must carry in X-Tallyloft-Secret. Empty only while hooks
  // installed by an older Tallyloft still post to the port without one.
  std::string secret{};
};

// The app's hook endpoint: an HTTP/1.1 listener on a Unix socket that only this user's processes
// may use (optionally also on a TCP port of 127.0.0.1, under a secret). It takes one request per
// connection, answers every request that has a complete header block with the same fixed
// "200 OK", and hands each body that decodes as a HookEvent to `onEvent`. A peer of another user
// on the socket is closed before a byte is read; a TCP request without the secret is answered
// "401 Unauthorized" and not decoded. Both are counted.
//
// The listeners and every connection run on the server's own thread; `onEvent` and `onStatus` are
// called there, one at a time, so the owner must hand the work over to its own thread. Set both
// before `start()`. The destructor stops that thread; no callback runs once it has returned.
class HookServer {
 public:
  static constexpr std::uint16_t kPort = 51789;
  static constexpr std::string_view kResponse =
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
  static constexpr std::string_view kUnauthorized =
      "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  static constexpr std::string_view kSecretHeader = "X-Tallyloft-Secret";

  using Limits = HookServerLimits;

  // What the listeners do now. `running`: the socket listens (or, without one, the port).
  struct Status {
    bool running = false;
    // "Listening on PATH", "Listening on PATH and 127.0.0.1:PORT", "Failed: …",
    // "Could not start: …" or "Stopped"; a port that could not be opened beside a listening
    // socket adds "; port PORT: …".
    std::string text;
    std::uint16_t port = 0;  // the TCP port listening now, or 0
  };
  using EventHandler = std::function<void(HookEvent event)>;
  using StatusHandler = std::function<void(Status status)>;

  // Does not touch the network.
  explicit HookServer(HookListen listen, Limits limits = Limits{});
  HookServer(const HookServer&) = delete;
  HookServer& operator=(const HookServer&) = delete;
  ~HookServer();

  EventHandler onEvent;
  StatusHandler onStatus;

  // Returns at once; the listeners start on the server's thread and report their status. Once
  // started, later calls do nothing, also after a failure or `stop()`: nothing is ever retried.
  void start();
  // Closes the listeners and reports "Stopped". Open connections finish normally.
  void stop();
  // Opens, moves or closes (nullopt) the TCP port of a started server, and reports the status.
  void setPort(std::optional<std::uint16_t> port, std::string secret);

  // The socket's path as configured (empty without one).
  const std::filesystem::path& socketPath() const { return socket_; }
  // The port the TCP listener is bound to, or 0 while there is none. Thread-safe.
  std::uint16_t boundPort() const;
  // The number of connections open now. Thread-safe.
  std::size_t openConnections() const;
  // The request bytes the open connections hold now, counted against maxTotalBuffered.
  // Thread-safe.
  std::size_t bufferedBytes() const;
  // Peers of another user closed on the socket, and TCP requests refused for a missing or wrong
  // secret, since the start. Thread-safe.
  std::size_t refusedPeers() const;
  std::size_t refusedRequests() const;

  // The server's state on its thread; opaque outside HookServer.cpp.
  struct Impl;

 private:
  std::filesystem::path socket_;
  std::unique_ptr<Impl> impl_;
};

// Whether `given` is `expected`, in a time that does not depend on where they differ.
bool sameSecret(std::string_view given, std::string_view expected);

}  // namespace tallyloft
