#pragma once

#include <cstdint>

#include "hooks/HookServer.h"

namespace tallyloft {

struct ServeOptions {
  std::uint16_t port = HookServer::kPort;
  bool printEvents = false;
};

// Runs the app's model and hook server headless until SIGINT or SIGTERM, following the CLIs'
// processes and Claude Code's sessions directory, and answering `tallyloft status` on the
// status socket (a second engine leaves the socket to the first and says so). Status changes and
// the counts line ("N sessions · M live agents · K events", whenever it changes, at most ten times
// a second) go to stderr; with `printEvents`, each decoded event goes to stdout as one JSON line.
// Returns the exit status: 1 when the listener could not start, 0 after a signal.
int runServe(const ServeOptions& options);

}  // namespace tallyloft
