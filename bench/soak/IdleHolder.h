#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "base/Loopback.h"

namespace tallyloft::soak {

// Connections that never send a byte, held open for the whole run on a thread of their own and
// opened again when the server ends them. The server must never answer one.
class IdleHolder {
 public:
  IdleHolder(tallyloft::LocalAddress address, int count)
      : address_(std::move(address)), count_(count) {}

  void start();
  void stop();
  int openNow() const { return open_.load(); }
  int fewestOpen() const { return fewest_.load(); }
  std::int64_t reopened() const { return reopened_.load(); }
  std::int64_t answered() const { return answered_.load(); }
  std::int64_t refused() const { return refused_.load(); }

 private:
  void run();

  tallyloft::LocalAddress address_;
  int count_;
  std::vector<int> fds_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> open_{0};
  std::atomic<int> fewest_{1 << 30};
  std::atomic<std::int64_t> reopened_{0};
  std::atomic<std::int64_t> answered_{0};
  std::atomic<std::int64_t> refused_{0};
};

}  // namespace tallyloft::soak
