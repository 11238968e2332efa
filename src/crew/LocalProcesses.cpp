#include "crew/LocalProcesses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace tallyloft {
namespace {

std::string procPath(std::int64_t pid, const char* leaf) {
  return "/proc/" + std::to_string(pid) + "/" + leaf;
}

// A /proc file's bytes, at most `limit` of them.
std::string readProc(std::int64_t pid, const char* leaf, std::size_t limit = 64 * 1024) {
  std::ifstream file(procPath(pid, leaf), std::ios::binary);
  std::string text(limit, '\0');
  file.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

// The NUL-separated arguments of /proc/PID/cmdline.
std::vector<std::string> argumentsOf(std::int64_t pid) {
  std::vector<std::string> arguments;
  const std::string text = readProc(pid, "cmdline");
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\0', start);
    arguments.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return arguments;
}

bool isCodexDaemon(const std::vector<std::string>& arguments) {
  return std::find(arguments.begin(), arguments.end(), "app-server") != arguments.end();
}

bool isCodex(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return false;
  const std::string& program = arguments.front();
  const std::size_t slash = program.rfind('/');
  return program.substr(slash == std::string::npos ? 0 : slash + 1) == "codex";
}

}  // namespace

std::optional<std::uint64_t> LocalProcesses::startTime(std::int64_t pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream file(procPath(pid, "stat"));
  if (!file) return std::nullopt;
  const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name (field 2) is in parentheses and may hold blanks and parentheses itself.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return std::nullopt;
  // A zombie has ended; only its parent has not collected it yet.
  if (stat[close + 2] == 'Z' || stat[close + 2] == 'X') return std::nullopt;
  std::size_t at = close + 1;
  for (int field = 3; field < 22; ++field) {
    at = stat.find(' ', at + 1);
    if (at == std::string::npos) return std::nullopt;
  }
  ++at;
  std::uint64_t ticks = 0;
  const auto [end, error] = std::from_chars(stat.data() + at, stat.data() + stat.size(), ticks);
  if (error != std::errc() || end == stat.data() + at) return std::nullopt;
  return ticks;
}

std::optional<ProcessIdentity> LocalProcesses::verify(std::int64_t pid,
                                                      const std::string& cwd) const {
  if (pid <= 0 || cwd.empty()) return std::nullopt;
  const auto before = startTime(pid);
  if (!before) return std::nullopt;
  struct stat process {};
  if (::stat(procPath(pid, "").c_str(), &process) != 0 || process.st_uid != ::getuid()) {
    return std::nullopt;
  }
  // /proc/PID/cwd is readable only for our own processes; compare the directories themselves.
  struct stat theirs {};
  struct stat named {};
  if (::stat(procPath(pid, "cwd").c_str(), &theirs) != 0 || ::stat(cwd.c_str(), &named) != 0 ||
      theirs.st_dev != named.st_dev || theirs.st_ino != named.st_ino) {
    return std::nullopt;
  }
  // The same process from the first read to the last.
  if (startTime(pid) != before) return std::nullopt;
  return ProcessIdentity{pid, *before};
}

bool LocalProcesses::isSharedDaemon(const ProcessIdentity& process) const {
  return isCodexDaemon(argumentsOf(process.pid));
}

std::optional<ProcessIdentity> LocalProcesses::codexFrontEnd(const std::string& cwd) const {
  std::optional<ProcessIdentity> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::int64_t pid = std::stoll(name);
    const std::vector<std::string> arguments = argumentsOf(pid);
    if (!isCodex(arguments) || isCodexDaemon(arguments)) continue;
    const auto identity = verify(pid, cwd);
    if (!identity) continue;
    if (found) return std::nullopt;  // two of them: which one is not to be told
    found = identity;
  }
  return found;
}

TerminalHints LocalProcesses::terminalOf(const ProcessIdentity& process) const {
  if (!alive(process)) return {};
  const std::string environment = readProc(process.pid, "environ");
  std::string header;
  std::size_t start = 0;
  while (start < environment.size()) {
    std::size_t end = environment.find('\0', start);
    if (end == std::string::npos) end = environment.size();
    const std::string entry = environment.substr(start, end - start);
    for (const char* name : {"WINDOWID=", "TMUX=", "TMUX_PANE=", "KITTY_WINDOW_ID=",
                             "WEZTERM_PANE=", "TERM_PROGRAM="}) {
      if (entry.rfind(name, 0) == 0 && entry.find(';') == std::string::npos) header += entry + ";";
    }
    start = end + 1;
  }
  return TerminalHints::parse(header);
}

bool LocalProcesses::alive(const ProcessIdentity& process) const {
  return startTime(process.pid) == process.startTime;
}

int LocalProcesses::exitDescriptor(const ProcessIdentity& process) const {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(process.pid), 0);
  if (fd < 0) return -1;
  // The pid might have been reused between the check and the open.
  if (!alive(process)) {
    ::close(static_cast<int>(fd));
    return -1;
  }
  ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  return static_cast<int>(fd);
#else
  (void)process;
  return -1;
#endif
}

}  // namespace tallyloft
