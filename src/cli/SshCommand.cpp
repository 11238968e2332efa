#include "cli/SshCommand.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/RuntimeFolder.h"
#include "hooks/HookCommand.h"

extern char** environ;

namespace tallyloft {
namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) {
  interrupted = 1;
}

// Runs `arguments` (looked up on PATH) and waits for it; its standard output goes to `output`
// when given. Returns the exit status, or -1 when it could not run or did not exit.
int run(const std::vector<std::string>& arguments, std::string* output = nullptr) {
  std::vector<char*> argv;
  for (const std::string& each : arguments) argv.push_back(const_cast<char*>(each.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output != nullptr) {
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  }
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (output != nullptr) {
    ::close(pipeFds[1]);
    if (spawned == 0) {
      char buffer[4096];
      for (;;) {
        const ssize_t count = ::read(pipeFds[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        output->append(buffer, static_cast<std::size_t>(count));
      }
    }
    ::close(pipeFds[0]);
  }
  if (spawned != 0) return -1;
  // A stop asked of us (SIGTERM from a service manager, or SIGINT) is passed on, so that the
  // connection ends with us rather than living on unwatched.
  int status = 0;
  bool passedOn = false;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
    if (interrupted && !passedOn) {
      ::kill(child, SIGTERM);
      passedOn = true;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string sshPrepareCommand(const std::string& remoteSocket) {
  // The remote shell expands "$HOME"; everything else is quoted.
  std::string path = shellQuoted(remoteSocket);
  if (remoteSocket.rfind("~/", 0) == 0) path = "\"$HOME\"/" + shellQuoted(remoteSocket.substr(2));
  // The folder is made the user's alone; in a folder that is not theirs chmod fails, and so does
  // the whole command.
  return "umask 077 && socket=" + path +
         " && folder=$(dirname \"$socket\") && mkdir -p \"$folder\" && chmod 700 \"$folder\" && "
         "rm -f \"$socket\" && printf '%s\\n' \"$socket\"";
}

int runSsh(const SshOptions& options) {
  const std::string remote =
      options.remoteSocket.empty() ? "~/.tallyloft/hook.sock" : options.remoteSocket;
  const std::filesystem::path local = hookSocketPath();
  if (const int probe = connectUnixSocket(local); probe >= 0) {
    ::close(probe);
  } else {
    std::fprintf(stderr, "ssh: nothing listens on %s yet; events arrive once Tallyloft runs here\n",
                 local.c_str());
  }
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  const auto ssh = [&](std::vector<std::string> tail) {
    std::vector<std::string> command = {"ssh"};
    command.insert(command.end(), options.sshArguments.begin(), options.sshArguments.end());
    command.insert(command.end(), tail.begin(), tail.end());
    return command;
  };
  auto wait = std::chrono::seconds(1);
  bool told = false;
  for (int attempt = 1; !interrupted; ++attempt) {
    const auto started = Clock::now();
    std::string path;
    const int prepared = run(ssh({options.host, sshPrepareCommand(remote)}), &path);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    if (interrupted) break;
    if (prepared == 0 && !path.empty() && path.front() == '/') {
      if (!told) {
        std::fprintf(stderr,
                     "ssh: %s forwards to %s. On %s, install the hooks once with\n"
                     "  tallyloft hooks install --socket %s\n"
                     "(or paste what `tallyloft hooks print --cli NAME --socket %s` prints)\n",
                     path.c_str(), local.c_str(), options.host.c_str(), path.c_str(), path.c_str());
        told = true;
      }
      const int status =
          run(ssh({"-N", "-o", "ExitOnForwardFailure=yes", "-o", "ServerAliveInterval=15", "-o",
                   "ServerAliveCountMax=3", "-R", path + ":" + local.string(), options.host}));
      if (interrupted) break;
      std::fprintf(stderr, "ssh: the connection to %s ended (status %d)\n", options.host.c_str(),
                   status);
    } else {
      std::fprintf(stderr, "ssh: could not prepare %s on %s (status %d)\n", remote.c_str(),
                   options.host.c_str(), prepared);
    }
    if (options.attempts > 0 && attempt >= options.attempts) return 1;
    // A connection that held for a while was fine: start over with short waits.
    if (Clock::now() - started > std::chrono::minutes(1)) wait = std::chrono::seconds(1);
    std::fprintf(stderr, "ssh: connecting again in %d s\n", static_cast<int>(wait.count()));
    for (auto left = wait; left.count() > 0 && !interrupted; left -= std::chrono::seconds(1)) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    wait = std::min(wait * 2, std::chrono::seconds(30));
  }
  return 0;
}

}  // namespace tallyloft
