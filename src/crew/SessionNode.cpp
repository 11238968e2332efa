#include "crew/SessionNode.h"

#include <algorithm>

namespace tallyloft {

std::int64_t SessionNode::paperCap() const {
  if (contextLimit > 195'999) return std::min<std::int64_t>(contextLimit / 14'000, 46);
  return 14;
}

std::string SessionNode::projectName() const {
  if (!cwd || cwd->empty()) return "session";
  std::string_view path = *cwd;
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return last.empty() ? "session" : std::string(last);
}

int SessionNode::liveAgentCount() const {
  int live = static_cast<int>(
      std::count_if(subagents.begin(), subagents.end(),
                    [](const AgentNode& agent) { return agent.state != AgentState::done; }));
  if (!ended && main.state != AgentState::done) ++live;
  return live;
}

std::string_view processStatusName(ProcessStatus status) {
  switch (status) {
    case ProcessStatus::unknown:
      return "unknown";
    case ProcessStatus::alive:
      return "alive";
    case ProcessStatus::gone:
      return "gone";
    case ProcessStatus::shared:
      return "shared";
    case ProcessStatus::notLocal:
      break;
  }
  return "not-local";
}

}  // namespace tallyloft
