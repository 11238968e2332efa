#include "cli/StatusCommand.h"

#include <gtest/gtest.h>

namespace tallyloft {
namespace {

std::string session(const char* cli, const char* project, const char* state, const char* agents,
                    const char* percent = "null", bool leaving = false) {
  return std::string(R"({"id":"x","cli":")") + cli + R"(","project":")" + project +
         R"(","cwd":"/w","task":null,"state":")" + state + R"(","waitReason":null,"leaving":)" +
         (leaving ? "true" : "false") +
         R"(,"secondsSinceEvent":12.7,"contextTokens":154000,"contextWindow":200000,)"
         R"("contextPercent":)" +
         percent + R"(,"process":{"pid":23599,"status":"alive"},"agents":[)" + agents + "]}";
}

std::string agent(const char* type, const char* state, const char* wait = "null",
                  const char* tool = "null", const char* target = "null") {
  return std::string(R"({"id":"a","type":")") + type + R"(","main":false,"state":")" + state +
         R"(","waitReason":)" + wait + R"(,"tool":)" + tool + R"(,"target":)" + target + "}";
}

std::string crew(const std::string& sessions) {
  return R"({"sessions":[)" + sessions + "]}";
}

TEST(StatusWaybar, CountsLiveAndWaitingAgentsAndPicksTheClass) {
  EXPECT_EQ(statusWaybar(crew("")),
            R"({"text":"🤖 0","tooltip":"No sessions","class":"idle","percentage":0})");
  const std::string resting =
      session("claude", "shop", "idle", agent("main", "idle").c_str(), "41");
  EXPECT_EQ(statusWaybar(crew(resting)),
            R"({"text":"🤖 1","tooltip":"claude shop: idle","class":"idle","percentage":41})");
  const std::string busy =
      session("codex", "api", "working",
              (agent("main", "working") + "," + agent("Explore", "done")).c_str(), "77");
  EXPECT_EQ(statusWaybar(crew(resting + "," + busy)),
            "{\"text\":\"🤖 2\",\"tooltip\":\"claude shop: idle\\ncodex api: working\","
            "\"class\":\"working\",\"percentage\":77}");
  const std::string asking =
      session("gemini", "web", "waiting", agent("main", "waiting", "\"question\"").c_str());
  const std::string gone =
      session("claude", "old", "done", agent("main", "done").c_str(), "99", true);
  EXPECT_EQ(statusWaybar(crew(busy + "," + asking + "," + gone)),
            "{\"text\":\"🤖 2 ⏳ 1\",\"tooltip\":\"codex api: working\\ngemini web: waiting\","
            "\"class\":\"waiting\",\"percentage\":77}");
  const std::string odd = session("claude", "R&D <x>", "idle", agent("main", "idle").c_str());
  EXPECT_EQ(
      statusWaybar(crew(odd)),
      R"({"text":"🤖 1","tooltip":"claude R&amp;D &lt;x&gt;: idle","class":"idle","percentage":0})");
  EXPECT_FALSE(statusWaybar(R"({"error":"unknown request"})"));
  EXPECT_FALSE(statusWaybar("not json"));
}

TEST(StatusTable, ALinePerSessionThenItsAgents) {
  EXPECT_EQ(statusTable(crew("")), "No sessions.\n");
  const std::string one = session("claude", "shop-api", "working",
                                  (agent("main", "working", "null", "\"run\"", "\"make test\"") +
                                   "," + agent("Explore", "waiting", "\"permission\""))
                                      .c_str(),
                                  "77");
  EXPECT_EQ(statusTable(crew(one)),
            "claude  shop-api             working              context 154k/200k (77%)  12 s ago  "
            "pid 23599 alive\n"
            "  main               working              run make test\n"
            "  Explore            waiting (permission)\n");
  EXPECT_FALSE(statusTable("[]"));
  // Another version's answer, or a broken one: shown as far as it goes, never a crash; and no
  // terminal escapes from a hook's input reach the terminal.
  EXPECT_EQ(
      statusTable(R"({"sessions":[{"project":"a\u001b[31mb","agents":[{"state":"idle"}, 3]},
                                         7, {"process":5}]})"),
      "?       a[31mb               -                    context ?  0 s ago  process unknown\n"
      "  -                  idle                \n"
      "?       -                    -                    context ?  0 s ago  process unknown\n");
  // Long names keep the columns: cut with an ellipsis, counted in characters, not bytes.
  EXPECT_EQ(
      statusTable(R"({"sessions":[{"cli":"gemini","project":"ünïcödé-prøject-with-a-long-name",
      "state":"working","agents":[{"type":"codebase_investigator","state":"thinking"},
      {"type":"Plan","state":"waiting","waitReason":"question"}]}]})"),
      "gemini  ünïcödé-prøject-wit… working              context ?  0 s ago  process unknown\n"
      "  codebase_investig… thinking            \n"
      "  Plan               waiting (question)  \n");
}

}  // namespace
}  // namespace tallyloft
