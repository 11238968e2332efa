#pragma once

#include <cstdint>

#include "hooks/HookServer.h"

namespace tallyloft {

struct ServeOptions {
  std::uint16_t port = HookServer::kPort;
  bool printEvents = false;
};

// Runs the hook server headless until SIGINT or SIGTERM: status changes go to stderr and, with
// `printEvents`, each decoded event to stdout as one JSON line. Returns the exit status: 1 when
// the listener could not start, 0 after a signal.
int runServe(const ServeOptions& options);

}  // namespace tallyloft
