#include "app/CrewStatus.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "app/JsonValues.h"

namespace tallyloft {
namespace {

using Json = OrderedJson;

Json waitReasonJson(const AgentNode& agent) {
  return agent.state == AgentState::waiting ? Json(waitReasonName(agent.waitReason))
                                            : Json(nullptr);
}

Json agentJson(const AgentNode& agent) {
  return Json{{"id", agent.id},
              {"type", agent.type},
              {"main", agent.isMain},
              {"state", stateName(agent.state)},
              {"waitReason", waitReasonJson(agent)},
              {"tool", agent.currentTool ? Json(toolKindName(*agent.currentTool)) : Json(nullptr)},
              {"target", orNull(agent.currentTarget)}};
}

}  // namespace

std::string crewStatusJson(const std::vector<SessionNode>& sessions, Timestamp now) {
  Json list = Json::array();
  for (const SessionNode& session : sessions) {
    Json agents = Json::array({agentJson(session.main)});
    for (const AgentNode& agent : session.subagents) agents.push_back(agentJson(agent));
    const double since =
        std::max(0.0, std::chrono::duration<double>(now - session.lastActivity).count());
    Json percent = nullptr;
    if (session.contextTokens && session.contextLimit > 0) {
      percent = static_cast<std::int64_t>(
          std::lround(100.0 * static_cast<double>(*session.contextTokens) /
                      static_cast<double>(session.contextLimit)));
    }
    list.push_back(Json{{"id", session.id},
                        {"cli", orNull(session.cli)},
                        {"project", session.projectName()},
                        {"cwd", orNull(session.cwd)},
                        {"task", orNull(session.currentTask)},
                        {"state", stateName(session.main.state)},
                        {"waitReason", waitReasonJson(session.main)},
                        {"leaving", session.leaving},
                        {"secondsSinceEvent", std::round(since * 10.0) / 10.0},
                        {"contextTokens", orNull(session.contextTokens)},
                        {"contextWindow", session.contextLimit},
                        {"contextPercent", std::move(percent)},
                        {"process", Json{{"pid", orNull(session.pid)},
                                         {"status", processStatusName(session.process)}}},
                        {"agents", std::move(agents)}});
  }
  return Json{{"sessions", std::move(list)}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tallyloft
