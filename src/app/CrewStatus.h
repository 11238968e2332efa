#pragma once

#include <string>
#include <vector>

#include "crew/SessionNode.h"

namespace tallyloft {

// The crew as `tallyloft status --json` prints it: one JSON document, no trailing newline.
//
//   {"sessions": [{"id", "cli" (null when unknown), "project", "cwd", "task", "state" (the main
//     agent's), "waitReason" (null unless waiting), "leaving", "secondsSinceEvent",
//     "contextTokens" (null before a reading), "contextWindow", "contextPercent" (null likewise),
//     "process": {"pid" (null when no hook named it), "status": "alive" | "gone" | "not-local" |
//     "unknown"},
//     "agents": [{"id", "type", "main", "state", "waitReason", "tool", "target"}, …]}, …]}
//
// Sessions in order of creation, the main agent first among its agents. `now` gives the
// seconds since each session's latest event.
std::string crewStatusJson(const std::vector<SessionNode>& sessions, Timestamp now);

}  // namespace tallyloft
