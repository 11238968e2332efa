#pragma once

#include <string>

namespace tallyloft::bench {

// A PreToolUse post as Claude Code sends it through the hook command.
inline const std::string kPreToolUseBody =
    R"({"session_id":"39f19085-990a-4fa9-bccf-f567a7d967f4","transcript_path":"/home/dev/.claude/)"
    R"(projects/-home-dev-src-tallyloft/39f19085-990a-4fa9-bccf-f567a7d967f4.jsonl","cwd":"/home/)"
    R"(dev/src/tallyloft","permission_mode":"default","effort":{"level":"high"},"hook_event_name":)"
    R"("PreToolUse","tool_name":"Bash","tool_input":{"command":"cmake --build --preset dev && ctest )"
    R"(--preset dev --output-on-failure 2>&1 | tail -n 40","description":"Build and run the tests",)"
    R"("timeout":600000},"tool_use_id":"toolu_01JS4uo6vzcVbKxsvgtiDmH1"})";

inline std::string preToolUseRequest() {
  return "POST /event HTTP/1.1\r\nHost: 127.0.0.1:51789\r\nUser-Agent: curl/7.88.1\r\n"
         "Accept: */*\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(kPreToolUseBody.size()) + "\r\n\r\n" + kPreToolUseBody;
}

}  // namespace tallyloft::bench
