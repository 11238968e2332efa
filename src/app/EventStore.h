#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tallyloft {

// The server's status and the number of events received, as the menu shows them. Main-thread
// only; every change calls `onChange`.
class EventStore {
 public:
  std::int64_t eventCount() const { return eventCount_; }
  bool serverRunning() const { return serverRunning_; }
  const std::string& serverStatus() const { return serverStatus_; }

  void countEvent() {
    ++eventCount_;
    notify();
  }
  // The TCP port listening beside the socket, or 0.
  std::uint16_t serverPort() const { return serverPort_; }

  void setServer(bool running, std::string status, std::uint16_t port = 0) {
    serverRunning_ = running;
    serverStatus_ = std::move(status);
    serverPort_ = port;
    notify();
  }

  std::function<void()> onChange;

 private:
  void notify() {
    if (onChange) onChange();
  }

  std::int64_t eventCount_ = 0;
  bool serverRunning_ = false;
  std::uint16_t serverPort_ = 0;
  std::string serverStatus_ = "Starting\u2026";
};

}  // namespace tallyloft
