#include "crew/AgentNode.h"

#include <array>

namespace tallyloft {
namespace {

constexpr std::array<std::string_view, 6> kStateNames = {"thinking", "working", "waiting",
                                                         "idle",     "done",    "error"};

}  // namespace

std::string_view stateName(AgentState state) {
  return kStateNames[static_cast<std::size_t>(state)];
}

std::optional<AgentState> agentStateNamed(std::string_view name) {
  for (std::size_t i = 0; i < kStateNames.size(); ++i) {
    if (kStateNames[i] == name) return static_cast<AgentState>(i);
  }
  return std::nullopt;
}

std::string_view waitReasonName(WaitReason reason) {
  return reason == WaitReason::permission ? "permission" : "question";
}

AgentNode AgentNode::make(std::string id, std::string type, bool isMain, Timestamp now) {
  AgentNode agent;
  agent.id = std::move(id);
  agent.type = std::move(type);
  agent.isMain = isMain;
  agent.startedAt = now;
  agent.lastActivity = now;
  return agent;
}

}  // namespace tallyloft
