#pragma once

#include <cstdint>
#include <optional>

#include "hooks/HookServer.h"

namespace tallyloft {

struct ServeOptions {
  // A TCP port on 127.0.0.1 beside the socket, under the secret.
  std::optional<std::uint16_t> port;
  bool printEvents = false;
};

// Runs the app's model and hook server headless until SIGINT or SIGTERM, listening on the user's
// hook socket (and the port when one is given), following the CLIs'
// processes and Claude Code's sessions directory, and answering `tallyloft status` on the
// status socket (a second engine leaves the socket to the first and says so). Status changes and
// the counts line ("N sessions · M live agents · K events", whenever it changes, at most ten times
// a second) go to stderr; with `printEvents`, each decoded event goes to stdout as one JSON line.
// The first line on stderr says where it listens, or why it cannot. Returns the exit status: 1
// when a listener could not start, 0 after a signal.
int runServe(const ServeOptions& options);

}  // namespace tallyloft
