#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crew/AgentNode.h"
#include "hooks/HookEvent.h"

namespace tallyloft {

// What is known of the process of a session's CLI.
enum class ProcessStatus {
  unknown,   // no event has named it yet
  alive,     // the user's own process, watched: its end ends the session
  gone,      // it was alive and has ended
  notLocal,  // named, but not a process of this user in the session's folder (another machine,
             // a container, another user): the timeouts alone end the session
  shared,    // a daemon that serves several sessions (Codex's app-server) and no single front
             // end to be found: the timeouts alone end the session
};
// "unknown", "alive", "gone", "not-local", "shared".
std::string_view processStatusName(ProcessStatus status);

// One CLI session: its main agent, its subagents in order of appearance, its task and the state
// of its context window (paper pile and compaction).
struct SessionNode {
  std::string id;
  std::optional<std::string> cwd;
  std::optional<std::string> model;
  Timestamp startedAt;
  Timestamp lastActivity;  // receive time of the session's latest event
  AgentNode main;
  std::vector<AgentNode> subagents;
  bool ended = false;    // ended or timed out: no longer active
  bool leaving = false;  // on its way out; removed about 14 s later unless revived
  std::optional<std::string> currentTask;
  std::int64_t clutter = 0;  // paper pile, 0 to paperCap()
  bool compacting = false;
  bool compactDelivered = false;
  std::optional<std::string> compactTrigger;
  std::int64_t contextLimit = 200'000;
  // The tokens in use at the newest transcript reading, once there was one.
  std::optional<std::int64_t> contextTokens;
  // "claude", "codex" or "gemini", once an event has shown which CLI this is.
  std::optional<std::string> cli;
  std::optional<std::string> transcriptPath;  // the newest one an event named
  // The CLI's process (the one whose end ends the session, and whose terminal is the session's)
  // and its terminal, from the hook's hints; for Codex's shared daemon, its front end's.
  std::optional<std::int64_t> pid;
  ProcessStatus process = ProcessStatus::unknown;
  TerminalHints terminal;
  // The terminal came from the front end's own environment, not the hooks (whose environment
  // is a shared daemon's): later hints are not taken.
  bool terminalFromProcess = false;

  // The most paper the room holds: 14 below a 196000-token window, else one sheet per 14000
  // tokens, at most 46.
  std::int64_t paperCap() const;
  // The last component of `cwd`, or "session".
  std::string projectName() const;
  // Subagents not done, plus the main agent unless it or the session has ended.
  int liveAgentCount() const;

  friend bool operator==(const SessionNode&, const SessionNode&) = default;
};

}  // namespace tallyloft
