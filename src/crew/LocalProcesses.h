#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hooks/HookEvent.h"

namespace tallyloft {

// A process told apart from a later one that reuses its pid: the pid and its start time (field
// 22 of /proc/PID/stat, in clock ticks since boot).
struct ProcessIdentity {
  std::int64_t pid = 0;
  std::uint64_t startTime = 0;
  friend bool operator==(const ProcessIdentity&, const ProcessIdentity&) = default;
};

// What the crew model may learn about the processes that post hooks. The pid comes from a hint
// that any local process can send, so a process counts only when it is the user's own and works
// in the folder its events name. Blocking reads of /proc, quick enough for the main thread.
// Virtual so that tests can stand in for the machine.
class LocalProcesses {
 public:
  virtual ~LocalProcesses() = default;

  // The process `pid`, when it runs now, belongs to this user, and its working directory is
  // `cwd` (the same directory, also through a symbolic link).
  virtual std::optional<ProcessIdentity> verify(std::int64_t pid, const std::string& cwd) const;
  // Whether that very process (same start time) still runs.
  virtual bool alive(const ProcessIdentity& process) const;
  // A descriptor that turns readable once the process has ended (a pidfd), or -1 when the
  // process is gone already or the kernel offers none. The caller closes it.
  virtual int exitDescriptor(const ProcessIdentity& process) const;

  // Whether the process serves sessions of several front ends (Codex's app-server daemon, which
  // runs the hooks of every Codex terminal of the user): its pid says nothing of one session.
  virtual bool isSharedDaemon(const ProcessIdentity& process) const;
  // The one Codex front end (a `codex` process of this user, not a daemon) working in `cwd`;
  // nothing when there is none or more than one.
  virtual std::optional<ProcessIdentity> codexFrontEnd(const std::string& cwd) const;
  // The terminal variables in the process's own environment.
  virtual TerminalHints terminalOf(const ProcessIdentity& process) const;

  // Field 22 of /proc/PID/stat, or nothing when there is no such process or it has ended (a
  // zombie).
  static std::optional<std::uint64_t> startTime(std::int64_t pid);
};

}  // namespace tallyloft
