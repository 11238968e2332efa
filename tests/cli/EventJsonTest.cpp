#include "cli/EventJson.h"

#include <gtest/gtest.h>

namespace tallyloft {
namespace {

TEST(EventJson, PrintsPresentFieldsReceivedAtAndTarget) {
  const auto at =
      std::chrono::system_clock::time_point(std::chrono::milliseconds(1'765'051'933'007));
  auto event = HookEvent::decode(R"({"cwd":"/w","hook_event_name":"PreToolUse","session_id":"s",
    "tool_name":"Read","tool_input":{"file_path":"/w/a.h","limit":20,"ratio":0.5,"deep":[true,null]},
    "unknown":1})",
                                 at);
  ASSERT_TRUE(event);
  EXPECT_EQ(eventJsonLine(*event),
            R"({"hook_event_name":"PreToolUse","session_id":"s","cwd":"/w","tool_name":"Read",)"
            R"("tool_input":{"deep":[true,null],"file_path":"/w/a.h","limit":20,"ratio":0.5},)"
            R"("receivedAt":"2025-12-06T20:12:13.007Z","target":"/w/a.h"})");
  auto stop = HookEvent::decode(R"({"hook_event_name":"Stop"})", at);
  EXPECT_EQ(eventJsonLine(*stop),
            R"({"hook_event_name":"Stop","receivedAt":"2025-12-06T20:12:13.007Z"})");
}

TEST(EventJson, Iso8601BeforeTheEpochStaysInRange) {
  EXPECT_EQ(iso8601(std::chrono::system_clock::time_point(std::chrono::milliseconds(-1))),
            "1969-12-31T23:59:59.999Z");
}

}  // namespace
}  // namespace tallyloft
