#include "crew/ToolKind.h"

#include <array>

#include "base/Text.h"

namespace tallyloft {
namespace {

constexpr std::array<std::string_view, 9> kKindNames = {"edit", "read", "search", "run",  "spawn",
                                                        "web",  "todo", "phone",  "other"};

}  // namespace

std::string_view toolKindName(ToolKind kind) {
  return kKindNames[static_cast<std::size_t>(kind)];
}

std::optional<ToolKind> toolKindNamed(std::string_view name) {
  for (std::size_t i = 0; i < kKindNames.size(); ++i) {
    if (kKindNames[i] == name) return static_cast<ToolKind>(i);
  }
  return std::nullopt;
}

ToolKind toolKind(const std::optional<std::string>& toolName) {
  const std::string name = asciiLower(toolName.value_or(""));
  const auto has = [&name](std::string_view word) { return name.find(word) != std::string::npos; };
  // The order matters: TodoWrite is an edit, WebSearch is web, KillShell runs.
  if (name.rfind("mcp__", 0) == 0) return ToolKind::phone;
  if (has("edit") || has("write") || has("notebook")) return ToolKind::edit;
  if (has("task") || has("agent")) return ToolKind::spawn;
  if (has("fetch") || has("web")) return ToolKind::web;
  if (has("grep") || has("glob") || name == "ls" || has("explore") || has("search")) {
    return ToolKind::search;
  }
  if (has("bash") || has("shell") || has("kill")) return ToolKind::run;
  if (has("read")) return ToolKind::read;
  if (has("todo")) return ToolKind::todo;
  return ToolKind::other;
}

std::optional<std::string> mcpServer(const std::optional<std::string>& toolName) {
  if (!toolName || asciiLower(*toolName).rfind("mcp__", 0) != 0) return std::nullopt;
  // Pieces of the name split on "__", empty pieces included: the server is the second.
  const std::string& name = *toolName;
  const std::size_t first = name.find("__");
  const std::size_t start = first + 2;
  const std::size_t end = name.find("__", start);
  const std::string server =
      name.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (server.empty()) return std::nullopt;
  return std::string(prefixGraphemes(server, 16));
}

}  // namespace tallyloft
