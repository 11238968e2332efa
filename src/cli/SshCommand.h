#pragma once

#include <string>
#include <vector>

namespace tallyloft {

struct SshOptions {
  std::string host;
  std::vector<std::string> sshArguments;  // passed to ssh before the host
  // The socket on the remote machine; default: ~/.tallyloft/hook.sock there.
  std::string remoteSocket;
  int attempts = 0;  // connections to make before giving up; 0: until interrupted
};

// `tallyloft ssh HOST`: forwards a socket on HOST to this user's hook socket over SSH, so that
// hooks installed there with `tallyloft hooks install --socket PATH` reach the office here, with
// no TCP port on either machine. Before each connection it makes the remote socket's folder
// (mode 0700) and removes a stale socket there (sshd does not), then runs `ssh -N -R` with
// ExitOnForwardFailure, and connects again when the connection drops, waiting longer after each
// quick failure (at most 30 s). Returns when interrupted (0) or after `attempts` (1).
int runSsh(const SshOptions& options);

// The remote command that makes the socket's folder the user's alone (mode 0700), removes a
// stale socket and prints the socket's absolute path ("~/" in `remoteSocket` is the remote home).
std::string sshPrepareCommand(const std::string& remoteSocket);

}  // namespace tallyloft
