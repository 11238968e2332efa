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
  void setServer(bool running, std::string status) {
    serverRunning_ = running;
    serverStatus_ = std::move(status);
    notify();
  }

  std::function<void()> onChange;

 private:
  void notify() {
    if (onChange) onChange();
  }

  std::int64_t eventCount_ = 0;
  bool serverRunning_ = false;
  std::string serverStatus_ = "Starting\u2026";
};

}  // namespace tallyloft
