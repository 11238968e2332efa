#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallyloft {

// The category of the tool an agent uses. `spawn` starts a subagent or task; `phone` is any MCP
// tool (a call to an outside server).
enum class ToolKind { edit, read, search, run, spawn, web, todo, phone, other };

std::string_view toolKindName(ToolKind kind);
std::optional<ToolKind> toolKindNamed(std::string_view name);

// Classifies a tool name by what its lower-cased form starts with or contains (MCP first, then
// edit, spawn, web, search, run, read, todo); never fails: anything else is `other`.
ToolKind toolKind(const std::optional<std::string>& toolName);

// The server of an MCP tool ("mcp__github__create_issue" → "github", at most 16 characters), or
// nothing for other tools.
std::optional<std::string> mcpServer(const std::optional<std::string>& toolName);

}  // namespace tallyloft
