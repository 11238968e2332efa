#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tallyloft {

// The small blocking TCP client of 127.0.0.1 that the demo, the load and soak tools and the
// tests share: connect, send everything, read until the peer closes. Loopback only.

struct LoopbackOptions {
  bool noDelay = false;  // TCP_NODELAY, as a latency measurement wants
};

// A connected socket to 127.0.0.1:`port`, or -1 with errno set (ECONNREFUSED: nothing listens).
// The caller closes it.
int connectLoopback(std::uint16_t port, LoopbackOptions options = {});

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
Exchange exchangeLoopback(std::uint16_t port, std::string_view request,
                          std::chrono::milliseconds timeout, LoopbackOptions options = {});

}  // namespace tallyloft
