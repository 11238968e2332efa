#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crew/ToolKind.h"

namespace tallyloft {

// What an agent is doing.
enum class AgentState { thinking, working, waiting, idle, done, error };
// Why an agent is waiting; meaningful only while it is `waiting`.
enum class WaitReason { permission, question };

// "thinking", "working", …: the case names.
std::string_view stateName(AgentState state);
std::optional<AgentState> agentStateNamed(std::string_view name);
std::string_view waitReasonName(WaitReason reason);

using Timestamp = std::chrono::system_clock::time_point;

// One agent of a session: the main agent ("main:" + session id, type "main") or a subagent
// (the CLI's agent id and type).
struct AgentNode {
  std::string id;
  std::string type;
  bool isMain = false;
  AgentState state = AgentState::thinking;
  WaitReason waitReason = WaitReason::permission;
  std::optional<ToolKind> currentTool;
  std::optional<std::string> currentTarget;
  std::int64_t toolCount = 0;
  Timestamp startedAt;
  Timestamp lastActivity;

  // Thinking or working: busy with a turn.
  bool isBusy() const { return state == AgentState::thinking || state == AgentState::working; }
  // No current tool or target (a wait reason is never cleared, only overwritten).
  void clearTool() {
    currentTool.reset();
    currentTarget.reset();
  }
  // A new agent: thinking, waiting reason permission, no tool, created `now`.
  static AgentNode make(std::string id, std::string type, bool isMain, Timestamp now);

  friend bool operator==(const AgentNode&, const AgentNode&) = default;
};

}  // namespace tallyloft
