#include "cli/CrewJson.h"

#include <nlohmann/json.hpp>

#include "app/JsonValues.h"

#include "cli/EventJson.h"

namespace tallyloft {
namespace {

using Json = OrderedJson;

Json agentJson(const AgentNode& agent) {
  return Json{
      {"id", agent.id},
      {"type", agent.type},
      {"isMain", agent.isMain},
      {"state", stateName(agent.state)},
      {"waitReason", waitReasonName(agent.waitReason)},
      {"currentTool", agent.currentTool ? Json(toolKindName(*agent.currentTool)) : Json(nullptr)},
      {"currentTarget", orNull(agent.currentTarget)},
      {"toolCount", agent.toolCount}};
}

Json sessionJson(const SessionNode& session) {
  Json agents = Json::array({agentJson(session.main)});
  for (const AgentNode& agent : session.subagents) agents.push_back(agentJson(agent));
  return Json{{"id", session.id},
              {"cwd", orNull(session.cwd)},
              {"model", orNull(session.model)},
              {"projectName", session.projectName()},
              {"ended", session.ended},
              {"leaving", session.leaving},
              {"currentTask", orNull(session.currentTask)},
              {"clutter", session.clutter},
              {"paperCap", session.paperCap()},
              {"contextLimit", session.contextLimit},
              {"compacting", session.compacting},
              {"compactDelivered", session.compactDelivered},
              {"compactTrigger", orNull(session.compactTrigger)},
              {"liveAgentCount", session.liveAgentCount()},
              {"agents", std::move(agents)}};
}

}  // namespace

std::string crewSnapshotJson(double seconds, AppModel& app) {
  Json sessions = Json::array();
  for (const SessionNode& session : app.crew().sessions()) sessions.push_back(sessionJson(session));
  const Json snapshot{{"t", numberJson(seconds)},
                      {"eventCount", app.store().eventCount()},
                      {"activeSessionCount", app.crew().activeSessionCount()},
                      {"sessions", std::move(sessions)}};
  return snapshot.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string countsLine(AppModel& app) {
  int live = 0;
  for (const SessionNode& session : app.crew().sessions()) live += session.liveAgentCount();
  return std::to_string(app.crew().activeSessionCount()) + " sessions \u00b7 " +
         std::to_string(live) + " live agents \u00b7 " + std::to_string(app.store().eventCount()) +
         " events";
}

}  // namespace tallyloft
