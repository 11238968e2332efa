#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tallyloft::test {

// Runs `work` in a forked child and returns what it returned (false when the child died).
// With `unprivileged`, the child first gives up root, so that file permissions hold for it.
// Only for single-threaded test processes: the child does file I/O and allocates.
template <typename Work>
bool inChild(Work work, bool unprivileged = false) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    ::_exit(work() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What a shell command printed (standard error joined to its output) and its exit status (-1
// when it did not exit normally).
struct ShellRun {
  int status = -1;
  std::string output;
};
inline ShellRun runShell(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {};
  ShellRun ran;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) ran.output += buffer;
  const int status = ::pclose(pipe);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

// A program the tests start, the one way they start programs: posix_spawn on PATH, with
// `extraEnvironment` entries before the inherited ones, its standard output and error written to
// files (or /dev/null). Stopped with SIGTERM when it goes out of scope.
class Program {
 public:
  Program(std::vector<std::string> arguments, const std::vector<std::string>& extraEnvironment,
          std::filesystem::path output = "/dev/null", std::filesystem::path errors = "/dev/null",
          const std::filesystem::path& workingDirectory = {})
      : output_(std::move(output)), errors_(std::move(errors)) {
    std::vector<std::string> environment(extraEnvironment);
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    std::vector<char*> argv, envp;
    for (auto& each : arguments) argv.push_back(each.data());
    for (auto& each : environment) envp.push_back(each.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (!workingDirectory.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    }
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() { stop(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Ends it at once (SIGKILL) and collects it.
  void kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    wait();
  }
  // Stops it with SIGTERM; its exit status, or -1 when it did not exit normally.
  int stop() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    return wait();
  }
  // Waits for it to exit by itself; its exit status, or -1.
  int wait() {
    if (pid_ <= 0) return status_;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

  // What it has written so far.
  std::string output() const { return read(output_); }
  std::string errors() const { return read(errors_); }
  // Waits until `text` stands in its standard output (or error) or `limit` has passed; returns
  // what is there then.
  std::string waitForOutput(const std::string& text,
                            std::chrono::milliseconds limit = std::chrono::seconds(3)) const {
    return waitIn(output_, text, limit);
  }
  std::string waitForErrors(const std::string& text,
                            std::chrono::milliseconds limit = std::chrono::seconds(3)) const {
    return waitIn(errors_, text, limit);
  }

 private:
  static std::string read(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string waitIn(const std::filesystem::path& path, const std::string& text,
                            std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string seen = read(path);
    while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      seen = read(path);
    }
    return seen;
  }

  std::filesystem::path output_;
  std::filesystem::path errors_;
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace tallyloft::test
