#include "cli/SshCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "base/RuntimeFolder.h"
#include "hooks/HookCommand.h"

extern char** environ;

namespace tallyloft {
namespace {

using Clock = std::chrono::steady_clock;

// SIGINT, SIGTERM and SIGCHLD, blocked and read from a descriptor: a stop is never missed between
// a check and a wait, and the children run with the signal mask we started with.
class Signals {
 public:
  Signals() {
    sigemptyset(&set_);
    for (int signal : {SIGINT, SIGTERM, SIGCHLD}) sigaddset(&set_, signal);
    ::sigprocmask(SIG_BLOCK, &set_, &previous_);
    fd_ = ::signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~Signals() {
    if (fd_ >= 0) ::close(fd_);
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  Signals(const Signals&) = delete;
  Signals& operator=(const Signals&) = delete;

  int fd() const { return fd_; }
  const sigset_t& previousMask() const { return previous_; }
  // Takes what has arrived; remembers a SIGINT or SIGTERM among it.
  void take() {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo != SIGCHLD) stopped_ = true;
    }
  }
  bool stopped() const { return stopped_; }
  // Waits up to `wait` for a stop; whether one came.
  bool stopWithin(std::chrono::milliseconds wait) {
    const auto until = Clock::now() + wait;
    while (!stopped_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) break;
      pollfd poller{fd_, POLLIN, 0};
      if (::poll(&poller, 1, static_cast<int>(left)) > 0) take();
    }
    return stopped_;
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
  bool stopped_ = false;
};

// Runs `arguments` (looked up on PATH) and waits for it; its standard output goes to `output`
// when given. A stop that comes meanwhile is passed on to it (SIGTERM), so that no connection
// lives on unwatched. Returns the exit status, or -1 when it could not run or did not exit.
int run(const std::vector<std::string>& arguments, Signals& signals,
        std::string* output = nullptr) {
  std::vector<char*> argv;
  for (const std::string& each : arguments) argv.push_back(const_cast<char*>(each.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (output != nullptr && ::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output != nullptr) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &signals.previousMask());
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (output != nullptr) ::close(pipeFds[1]);
  int reading = output != nullptr ? pipeFds[0] : -1;
  if (spawned != 0) {
    if (reading >= 0) ::close(reading);
    return -1;
  }
  bool passedOn = false;
  int status = 0;
  for (;;) {
    if (signals.stopped() && !passedOn) {
      ::kill(child, SIGTERM);
      passedOn = true;
    }
    // Its output to its end, then its exit.
    if (reading < 0 && ::waitpid(child, &status, WNOHANG) == child) break;
    pollfd pollers[2] = {{signals.fd(), POLLIN, 0}, {reading, POLLIN, 0}};
    if (::poll(pollers, reading >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) break;
    if ((pollers[0].revents & POLLIN) != 0) signals.take();
    if (reading >= 0 && pollers[1].revents != 0) {
      char buffer[4096];
      const ssize_t count = ::read(reading, buffer, sizeof buffer);
      if (count > 0) {
        output->append(buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        ::close(reading);
        reading = -1;
      }
    }
  }
  if (reading >= 0) ::close(reading);
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
  Signals signals;
  const auto ssh = [&](std::vector<std::string> tail) {
    std::vector<std::string> command = {"ssh"};
    command.insert(command.end(), options.sshArguments.begin(), options.sshArguments.end());
    command.insert(command.end(), tail.begin(), tail.end());
    return command;
  };
  auto wait = std::chrono::seconds(1);
  bool told = false;
  for (int attempt = 1; !signals.stopped(); ++attempt) {
    const auto started = Clock::now();
    std::string path;
    const int prepared = run(ssh({options.host, sshPrepareCommand(remote)}), signals, &path);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    if (signals.stopped()) break;
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
                   "ServerAliveCountMax=3", "-R", path + ":" + local.string(), options.host}),
              signals);
      if (signals.stopped()) break;
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
    if (signals.stopWithin(wait)) break;
    wait = std::min(wait * 2, std::chrono::seconds(30));
  }
  return 0;
}

}  // namespace tallyloft
