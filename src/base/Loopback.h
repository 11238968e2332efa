#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tallyloft {

// The small blocking client of a local server that the demo, the load and soak tools and the
// tests share: connect, send everything, read until the peer closes. It speaks to a Unix socket
// or to TCP on 127.0.0.1, nothing else.

// Where a local server listens: a Unix socket's path, or else a TCP port on 127.0.0.1.
struct LocalAddress {
  std::filesystem::path socket;
  std::uint16_t port = 0;

  static LocalAddress unixSocket(std::filesystem::path path) { return {std::move(path), 0}; }
  static LocalAddress tcp(std::uint16_t port) { return {{}, port}; }
  bool isUnix() const { return !socket.empty(); }
  // The path, or "127.0.0.1:PORT".
  std::string describe() const;
  // A path (it has a '/') or a port number, as a command line gives it; nullopt when neither.
  static std::optional<LocalAddress> parse(std::string_view text);
};

struct LoopbackOptions {
  bool noDelay = false;  // TCP_NODELAY, as a latency measurement wants
};

// A connected socket to `address`, or -1 with errno set (ECONNREFUSED or ENOENT: nothing
// listens). The caller closes it.
int connectLocal(const LocalAddress& address, LoopbackOptions options = {});

// Sends every byte, going on after interruptions; false when the peer has gone.
bool sendAll(int fd, std::string_view bytes);

// What came back before the peer closed, reset the connection, or `timeout` passed.
struct Received {
  std::string bytes;
  bool closed = false;    // the peer closed the connection in order
  bool reset = false;     // it reset it
  bool timedOut = false;  // neither happened in time
};
// Reads until one of those, or until more than `limit` bytes have come.
Received receiveUntilClosed(int fd, std::chrono::milliseconds timeout, std::size_t limit = 1 << 20);

// One request on a fresh connection and what came back; `connected` false when nothing
// listened.
struct Exchange {
  bool connected = false;
  Received reply;
};
Exchange exchangeLocal(const LocalAddress& address, std::string_view request,
                       std::chrono::milliseconds timeout, LoopbackOptions options = {});

}  // namespace tallyloft
