#include <gtest/gtest.h>

#include "crew/CrewModel.h"
#include "crew/SessionNode.h"
#include "crew/ToolKind.h"

namespace tallyloft {
namespace {

TEST(ToolKind, ClassifiesByTheFirstMatchingRule) {
  const std::pair<std::optional<std::string>, ToolKind> cases[] = {
      {std::nullopt, ToolKind::other},
      {"MCP__X__y", ToolKind::phone},
      {"mcp__", ToolKind::phone},
      {"Edit", ToolKind::edit},
      {"MultiEdit", ToolKind::edit},
      {"TodoWrite", ToolKind::edit},
      {"NotebookRead", ToolKind::edit},
      {"Task", ToolKind::spawn},
      {"Agent", ToolKind::spawn},
      {"WebFetch", ToolKind::web},
      {"WebSearch", ToolKind::web},
      {"Grep", ToolKind::search},
      {"Glob", ToolKind::search},
      {"LS", ToolKind::search},
      {"lsx", ToolKind::other},
      {"Explore", ToolKind::search},
      {"Bash", ToolKind::run},
      {"KillShell", ToolKind::run},
      {"run_shell_command", ToolKind::run},
      {"Read", ToolKind::read},
      {"read_file", ToolKind::read},
      {"TodoRead", ToolKind::read},
      {"todo", ToolKind::todo},
      {"list_directory", ToolKind::other},
      {"apply_patch", ToolKind::other},
      {"AskUserQuestion", ToolKind::other},
  };
  for (const auto& [name, kind] : cases) {
    EXPECT_EQ(toolKindName(toolKind(name)), toolKindName(kind)) << name.value_or("<none>");
  }
  EXPECT_EQ(toolKindNamed("phone"), ToolKind::phone);
  EXPECT_EQ(toolKindNamed("Phone"), std::nullopt);
  EXPECT_EQ(agentStateNamed("waiting"), AgentState::waiting);
  EXPECT_EQ(agentStateNamed("Waiting"), std::nullopt);
}

TEST(ToolKind, NamesTheMcpServer) {
  EXPECT_EQ(mcpServer("mcp__github__create_issue"), "github");
  EXPECT_EQ(mcpServer("MCP__X__y"), "X");
  EXPECT_EQ(mcpServer("mcp__solo"), "solo");
  EXPECT_EQ(mcpServer("mcp__a_very_long_server_name__x"), "a_very_long_serv");
  EXPECT_EQ(mcpServer("mcp__"), std::nullopt);
  EXPECT_EQ(mcpServer("mcp____tool"), std::nullopt);
  EXPECT_EQ(mcpServer("Bash"), std::nullopt);
  EXPECT_EQ(mcpServer(std::nullopt), std::nullopt);
}

TEST(SessionNode, DerivedValues) {
  SessionNode session;
  const std::pair<std::int64_t, std::int64_t> caps[] = {
      {200'000, 14}, {195'999, 14}, {196'000, 14}, {400'000, 28}, {700'000, 46}, {2'000'000, 46}};
  for (const auto& [limit, cap] : caps) {
    session.contextLimit = limit;
    EXPECT_EQ(session.paperCap(), cap) << limit;
  }
  const std::pair<std::optional<std::string>, std::string> names[] = {
      {std::nullopt, "session"},  {"", "session"},     {"/", "session"},
      {"/Users/a/proj/", "proj"}, {"/home/me/x", "x"}, {"rel/dir", "dir"}};
  for (const auto& [cwd, name] : names) {
    session.cwd = cwd;
    EXPECT_EQ(session.projectName(), name) << cwd.value_or("<none>");
  }

  session.ended = true;
  session.subagents = {AgentNode::make("a", "agent", false, {}),
                       AgentNode::make("b", "agent", false, {})};
  EXPECT_EQ(session.liveAgentCount(), 2);
  session.ended = false;
  EXPECT_EQ(session.liveAgentCount(), 3);
  session.subagents[0].state = AgentState::done;
  session.main.state = AgentState::done;
  EXPECT_EQ(session.liveAgentCount(), 1);
}

TEST(CrewModel, GuessesTheContextWindowFromTheModelName) {
  const std::pair<std::optional<std::string>, std::int64_t> cases[] = {
      {"claude-opus-4-8[1m]", 1'000'000}, {"gemini-2.5-pro", 1'000'000}, {"gpt-5-codex", 400'000},
      {"openai/gpt-5.6-luna", 400'000},   {"o3-mini", 400'000},          {"O4", 400'000},
      {"claude-sonnet-4-5", 200'000},     {std::nullopt, 200'000}};
  for (const auto& [model, limit] : cases) {
    EXPECT_EQ(CrewModel::contextLimit(model), limit) << model.value_or("<none>");
  }
}

}  // namespace
}  // namespace tallyloft
