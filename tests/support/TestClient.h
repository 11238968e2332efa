#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tallyloft::test {

// A blocking loopback TCP peer for socket-level tests.
class TestClient {
 public:
  explicit TestClient(std::uint16_t port);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  // Sends every byte; false when the peer has gone.
  bool send(std::string_view bytes);
  // Closes our sending side.
  void shutdownSend();
  // Everything the server sends until it closes the connection or `timeout` passes.
  struct Received {
    std::string bytes;
    bool closed = false;  // the server closed (or reset) the connection
  };
  Received receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

 private:
  int fd_ = -1;
};

// A socket listening on an ephemeral loopback port that never accepts: peers connect (the kernel
// completes the handshake) and then wait. Once destroyed, nothing listens on `port()`.
class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// Posts `request` on a fresh connection and returns what came back before the close.
std::string exchange(std::uint16_t port, std::string_view request);

// A POST of `body` to /event with a correct Content-Length.
std::string postRequest(std::string_view body, std::string_view extraHeaders = "");

}  // namespace tallyloft::test
