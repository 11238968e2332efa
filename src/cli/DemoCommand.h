#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tallyloft {

struct DemoOptions {
  std::string file;  // a recording; empty plays the built-in crew
  // Posts to this TCP port on 127.0.0.1 (with the secret) instead of the user's hook socket.
  std::optional<std::uint16_t> port;
  double speed = 1;
  bool loop = false;
};

// `tallyloft demo`: posts a recorded crew to a running Tallyloft over HTTP, as the CLIs' hooks
// do, in real time divided by the speed, with a progress line on stderr. Each round of a loop
// plays under new session ids. Returns 0, 1 when nothing listens (said in one line),
// or 2 for a bad recording or options.
int runDemo(const DemoOptions& options);

// The built-in crew: three sessions of the three CLIs.
const std::string& builtInDemo();

}  // namespace tallyloft
