#include "hooks/HookEvent.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tallyloft {
namespace {

std::optional<HookEvent> decode(std::string_view json) {
  return HookEvent::decode(json);
}

TEST(HookEventDecode, MinimalBodyHasEveryOptionalFieldAbsent) {
  auto event = decode(R"({"hook_event_name":"Stop"})");
  ASSERT_TRUE(event);
  EXPECT_EQ(event->hookEventName, "Stop");
  EXPECT_FALSE(event->sessionId || event->transcriptPath || event->cwd || event->permissionMode ||
               event->agentId || event->agentType || event->toolName || event->toolInput ||
               event->prompt || event->source || event->model || event->message || event->trigger);
  EXPECT_FALSE(event->target());
}

TEST(HookEventDecode, ReadsEveryKey) {
  auto event = decode(R"({"hook_event_name":"PreToolUse","session_id":"s","transcript_path":"t",
    "cwd":"c","permission_mode":"p","agent_id":"a","agent_type":"at","tool_name":"Bash",
    "tool_input":{"command":"ls"},"prompt":"pr","source":"so","model":"m","message":"me",
    "trigger":"tr","extra":[1,{"deep":null}]})");
  ASSERT_TRUE(event);
  EXPECT_EQ(*event->sessionId, "s");
  EXPECT_EQ(*event->transcriptPath, "t");
  EXPECT_EQ(*event->cwd, "c");
  EXPECT_EQ(*event->permissionMode, "p");
  EXPECT_EQ(*event->agentId, "a");
  EXPECT_EQ(*event->agentType, "at");
  EXPECT_EQ(*event->toolName, "Bash");
  EXPECT_EQ(*event->prompt, "pr");
  EXPECT_EQ(*event->source, "so");
  EXPECT_EQ(*event->model, "m");
  EXPECT_EQ(*event->message, "me");
  EXPECT_EQ(*event->trigger, "tr");
  EXPECT_EQ(event->target(), "ls");
}

TEST(HookEventDecode, RejectsWholeRecordOnAnyTypeMismatch) {
  const char* rejected[] = {
      R"({"session_id":"s"})",
      R"({"hook_event_name":null})",
      R"({"hook_event_name":7})",
      R"({"hook_event_name":"Stop","session_id":42})",
      R"({"hook_event_name":"Stop","cwd":true})",
      R"({"hook_event_name":"Stop","agent_type":{}})",
      R"({"hook_event_name":"Stop","trigger":["auto"]})",
      R"({"hook_event_name":"Stop","tool_input":"ls"})",
      R"({"hook_event_name":"Stop","tool_input":[1]})",
      R"({"hook_event_name":"Stop","tool_input":3})",
      R"(["hook_event_name","Stop"])",
      R"("Stop")",
      R"(null)",
      R"({"hook_event_name":"Stop")",
      R"({"hook_event_name":"Stop"} {})",
      R"({"Hook_Event_Name":"Stop"})",
      "",
      "{\"hook_event_name\":\"St\xff\"}",
  };
  for (const char* body : rejected) {
    EXPECT_FALSE(decode(body)) << body;
  }
}

TEST(HookEventDecode, NullMeansAbsentAndDuplicatesKeepTheLast) {
  auto event = decode(R"({"hook_event_name":"Stop","session_id":null,"tool_input":null,
    "cwd":1,"cwd":"/later","model":"m","model":null})");
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->sessionId);
  EXPECT_FALSE(event->toolInput);
  EXPECT_EQ(event->cwd, "/later");
  EXPECT_FALSE(event->model);
}

TEST(HookEventDecode, ToolInputBecomesJSONValues) {
  auto event = decode(R"({"hook_event_name":"X","tool_input":{"n":1,"f":2.5,"t":true,
    "s":"x","a":[1,"two",[null]],"o":{"k":{"z":false}},"z":null,"big":12345678901234567890}})");
  ASSERT_TRUE(event && event->toolInput);
  const JSONValue::Object& input = *event->toolInput;
  EXPECT_EQ(input.at("n"), JSONValue(1.0));
  EXPECT_EQ(input.at("n").kind(), JSONValue::Kind::number);
  EXPECT_EQ(input.at("f"), JSONValue(2.5));
  EXPECT_EQ(input.at("t"), JSONValue(true));
  EXPECT_EQ(input.at("s"), JSONValue("x"));
  EXPECT_EQ(input.at("a"),
            JSONValue(JSONValue::Array{1.0, "two", JSONValue(JSONValue::Array{nullptr})}));
  EXPECT_EQ(input.at("o"),
            JSONValue(JSONValue::Object{{"k", JSONValue(JSONValue::Object{{"z", false}})}}));
  EXPECT_TRUE(input.at("z").isNull());
  EXPECT_EQ(input.at("big"), JSONValue(12345678901234567890.0));
}

TEST(HookEventDecode, EachRecordGetsItsOwnIdentity) {
  const std::string body = R"({"hook_event_name":"Stop"})";
  auto first = decode(body);
  auto second = decode(body);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->id, second->id);
  const std::string text = first->id.toString();
  ASSERT_EQ(text.size(), 36u);
  EXPECT_EQ(text[14], '4');  // version 4
  EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1234));
  EXPECT_EQ(HookEvent::decode(body, now)->receivedAt, now);
}

std::optional<std::string> targetOf(const std::string& toolInput) {
  auto event = decode(R"({"hook_event_name":"X","tool_input":)" + toolInput + "}");
  return event ? event->target() : std::optional<std::string>("<undecodable>");
}

TEST(HookEventDecode, ReadsTheToolResultsDisplayTextWithoutEverRejectingForIt) {
  const auto display = [](const char* response) {
    const std::string body =
        std::string(R"({"hook_event_name":"AfterTool","tool_response":)") + response + "}";
    const auto event = HookEvent::decode(body);
    EXPECT_TRUE(event) << body;
    return event ? event->toolResponseDisplay : std::nullopt;
  };
  EXPECT_EQ(display(R"({"llmContent":"x","returnDisplay":"Command cancelled by user."})"),
            "Command cancelled by user.");
  EXPECT_EQ(display(R"({"returnDisplay":[[{"text":"out"}]]})"), std::nullopt);
  EXPECT_EQ(display(R"("ok\n")"), std::nullopt);  // Codex sends a plain string
  EXPECT_EQ(display(R"({"stdout":"","interrupted":false})"), std::nullopt);  // Claude Code
  EXPECT_EQ(display("null"), std::nullopt);
  EXPECT_FALSE(HookEvent::decode(R"({"hook_event_name":"AfterTool","tool_response":{"a":)"));
}

TEST(TerminalHints, KeepsOnlyValuesShapedLikeTheirVariable) {
  TerminalHints all;
  all.windowId = "4194311";
  all.tmux = "/tmp/tmux-1000/default,2811,0";
  all.tmuxPane = "%12";
  all.kittyWindowId = "3";
  all.weztermPane = "0";
  all.termProgram = "WezTerm";
  EXPECT_EQ(TerminalHints::parse("WINDOWID=4194311;TMUX=/tmp/tmux-1000/default,2811,0;"
                                 "TMUX_PANE=%12;KITTY_WINDOW_ID=3;WEZTERM_PANE=0;"
                                 "TERM_PROGRAM=WezTerm;"),
            all);
  EXPECT_TRUE(TerminalHints::parse("").empty());
  EXPECT_TRUE(TerminalHints::parse(";;=;WINDOWID;OTHER=1").empty());
  for (const char* bad : {"WINDOWID=0", "WINDOWID=-1", "WINDOWID=12a", "TMUX=relative,1,0",
                          "TMUX=/tmp/x,1", "TMUX=/tmp/$(id),1,0", "TMUX_PANE=7", "TMUX_PANE=%",
                          "KITTY_WINDOW_ID=", "TERM_PROGRAM=a`b`", "windowid=5"}) {
    EXPECT_TRUE(TerminalHints::parse(bad).empty()) << bad;
  }
  EXPECT_TRUE(TerminalHints::parse("TERM_PROGRAM=" + std::string(65, 'a')).empty());
  EXPECT_TRUE(TerminalHints::parse("WINDOWID=5;" + std::string(TerminalHints::kMaxHeaderBytes, ' '))
                  .empty());
}

TEST(TerminalHints, PidHintIsAPositiveDecimalWithinTheKernelsRange) {
  EXPECT_EQ(parsePidHint("1"), 1);
  EXPECT_EQ(parsePidHint("4194304"), 4194304);
  for (const char* bad : {"", "0", "-5", "+5", "4194305", "12345678", "1e3", "0x10", " 5"}) {
    EXPECT_EQ(parsePidHint(bad), std::nullopt) << bad;
  }
}

TEST(HookEventTarget, TakesFirstNonEmptyStringInKeyOrder) {
  EXPECT_EQ(targetOf(R"({"prompt":"p","file_path":"/a.cpp","path":"/b"})"), "/a.cpp");
  EXPECT_EQ(targetOf(R"({"file_path":"","path":"/src"})"), "/src");
  EXPECT_EQ(targetOf(R"({"file_path":3,"command":"make"})"), "make");
  EXPECT_EQ(targetOf(R"({"url":"u","query":"q"})"), "q");
  EXPECT_EQ(targetOf(R"({"description":"d","prompt":"p"})"), "d");
  EXPECT_EQ(targetOf(R"({"pattern":["*.h"],"prompt":"find"})"), "find");
  EXPECT_EQ(targetOf(R"({"other":"x"})"), std::nullopt);
  EXPECT_EQ(targetOf("{}"), std::nullopt);
}

TEST(HookEventTarget, CutsAtFiftySixGraphemeClusters) {
  auto repeat = [](std::string_view unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += unit;
    return text;
  };
  const std::string ascii56 = repeat("a", 56);
  EXPECT_EQ(targetOf(R"({"command":")" + ascii56 + "\"}"), ascii56);
  EXPECT_EQ(targetOf(R"({"command":")" + ascii56 + "b\"}"), ascii56 + "\u2026");
  // Multi-byte letters, emoji with modifiers and flags are one character each.
  for (std::string_view unit : {"\u00e9", "e\u0301", "\U0001F44D\U0001F3FD", "\U0001F1E9\U0001F1EA",
                                "\U0001F468\u200D\U0001F469\u200D\U0001F467"}) {
    SCOPED_TRACE(std::string(unit));
    const std::string exact = repeat(unit, 56);
    EXPECT_EQ(targetOf(R"({"file_path":")" + exact + "\"}"), exact);
    EXPECT_EQ(targetOf(R"({"file_path":")" + exact + "x\"}"), exact + "\u2026");
  }
}

// Every payload captured from the three CLIs must decode.
TEST(HookEventRealData, EveryCapturedPayloadDecodes) {
  const std::filesystem::path folder =
      std::filesystem::path(TALLYLOFT_REALDATA_DIR) / "hook-inputs";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no " << folder;
  int decoded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".json") continue;
    std::ifstream file(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    auto event = HookEvent::decode(bytes.str());
    ASSERT_TRUE(event) << entry.path();
    // The file name starts with the CLI and carries the event name.
    EXPECT_NE(entry.path().filename().string().find(event->hookEventName), std::string::npos);
    ++decoded;
  }
  EXPECT_GE(decoded, 20);
}

TEST(HookEventRealData, CapturedPayloadsKeepTheirValues) {
  const std::filesystem::path folder =
      std::filesystem::path(TALLYLOFT_REALDATA_DIR) / "hook-inputs";
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no " << folder;
  auto read = [&](const char* name) {
    std::ifstream file(folder / name, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return HookEvent::decode(bytes.str());
  };
  auto compact = read("claude-PreCompact-auto.json");  // "custom_instructions": null
  ASSERT_TRUE(compact);
  EXPECT_EQ(compact->trigger, "auto");
  auto gemini = read("gemini-BeforeTool-run_shell_command.json");
  ASSERT_TRUE(gemini);
  EXPECT_EQ(gemini->toolName, "run_shell_command");
  EXPECT_TRUE(gemini->target());
  auto subagent = read("claude-SubagentStop.json");
  ASSERT_TRUE(subagent);
  EXPECT_EQ(subagent->agentType, "");
}

}  // namespace
}  // namespace tallyloft
