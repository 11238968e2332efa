#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/Loopback.h"

namespace tallyloft::test {

using tallyloft::LocalAddress;

// A blocking peer of a local server for socket-level tests: a Unix socket or TCP on 127.0.0.1.
class TestClient {
 public:
  explicit TestClient(const LocalAddress& address);
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

// A fresh folder only this user may enter, for sockets (as the runtime folder is), removed with
// everything in it at the end.
class SocketFolder {
 public:
  SocketFolder();
  ~SocketFolder();
  SocketFolder(const SocketFolder&) = delete;
  SocketFolder& operator=(const SocketFolder&) = delete;
  // The folder: <temporary>/tallyloft-sockets-XXXXXX/tallyloft, mode 0700.
  const std::filesystem::path& path() const { return folder_; }
  std::filesystem::path socket() const { return folder_ / "hook.sock"; }

 private:
  std::filesystem::path top_;
  std::filesystem::path folder_;
};

// Posts `request` on a fresh connection and returns what came back before the close.
std::string exchange(const LocalAddress& address, std::string_view request);

// A POST of `body` to /event with a correct Content-Length.
std::string postRequest(std::string_view body, std::string_view extraHeaders = "");

}  // namespace tallyloft::test
