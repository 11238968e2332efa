#include "crew/CrewModel.h"

#include <gtest/gtest.h>

#include "base/LoopScheduler.h"
#include "support/TempHome.h"

namespace tallyloft {
namespace {

using namespace std::chrono_literals;

class CrewModelTest : public test::TempHome {
 protected:
  // Decodes `json` as received now and folds it in, then applies background results.
  void send(const std::string& json) {
    auto event = HookEvent::decode(json, loop.now());
    ASSERT_TRUE(event) << json;
    crew.reduce(*event);
    loop.runPending();
  }
  // Rewrites the transcript so that its newest usage record counts `tokens`.
  void setTokens(std::int64_t tokens) {
    write(transcript(),
          R"({"message":{"usage":{"input_tokens":)" + std::to_string(tokens) + "}}}\n");
  }
  std::string transcript() const { return (home() / "t.jsonl").string(); }
  const SessionNode& session() const { return crew.sessions().at(0); }

  LoopScheduler loop{Scheduler::TimePoint{std::chrono::seconds(1'000'000)}};
  CrewModel crew{loop};
};

TEST_F(CrewModelTest, SizesThePileFromTheTranscript) {
  const std::string tool =
      R"({"hook_event_name":"PostToolUse","session_id":"s","transcript_path":")" + transcript() +
      R"("})";
  setTokens(250'000);
  send(tool);
  EXPECT_EQ(session().contextLimit, 400'000);
  EXPECT_EQ(session().clutter, 17);  // trunc(0.625 × 28)

  // SessionStart without a model recomputes the limit from the stored one, and lowers it.
  send(R"({"hook_event_name":"SessionStart","session_id":"s"})");
  EXPECT_EQ(session().contextLimit, 200'000);

  setTokens(180'000);
  loop.advance(1s);
  send(R"({"hook_event_name":"PreCompact","session_id":"s","transcript_path":")" + transcript() +
       R"("})");
  send(R"({"hook_event_name":"PostCompact","session_id":"s"})");
  EXPECT_EQ(session().clutter, 0);
  crew.finishCompaction("s");
  EXPECT_FALSE(session().compacting);

  // Until a read shows fewer tokens than before the compaction, the pile stays cleared.
  setTokens(190'000);
  loop.advance(1s);
  send(tool);
  EXPECT_EQ(session().clutter, 0);
  setTokens(40'000);
  loop.advance(1s);
  send(tool);
  EXPECT_EQ(session().clutter, 2);  // trunc(0.2 × 14)
  setTokens(190'000);
  loop.advance(1s);
  send(tool);
  EXPECT_EQ(session().clutter, 13);  // the pre-compaction count no longer holds it back
}

// Gemini's hooks name no model and Codex states its window only in the rollout: the transcript
// sizes the limit, which only grows.
TEST_F(CrewModelTest, SizesTheLimitFromTheTranscriptsModelOrWindow) {
  const std::string gemini =
      R"({"type":"gemini","tokens":{"input":154321,"cached":115740},"model":"gemini-3-flash"})";
  write(transcript(), gemini + "\n");
  send(R"({"hook_event_name":"BeforeAgent","session_id":"g","transcript_path":")" + transcript() +
       R"("})");
  EXPECT_EQ(session().contextLimit, 1'000'000);
  EXPECT_EQ(session().clutter, 7);  // trunc(0.154321 × 46)

  write(transcript(),
        R"({"type":"event_msg","payload":{"type":"token_count","info":{"last_token_usage":)"
        R"({"input_tokens":154321},"model_context_window":258400}}})"
        "\n");
  send(R"({"hook_event_name":"UserPromptSubmit","session_id":"c","transcript_path":")" +
       transcript() + R"("})");
  const SessionNode& codex = crew.sessions().at(1);
  EXPECT_EQ(codex.contextLimit, 258'400);
  EXPECT_EQ(codex.clutter, 10);  // trunc(154321 / 258400 × 18)

  // A smaller window never shrinks the limit.
  write(transcript(),
        R"({"type":"event_msg","payload":{"type":"token_count","info":{"last_token_usage":)"
        R"({"input_tokens":100000},"model_context_window":128000}}})"
        "\n");
  loop.advance(1s);
  send(R"({"hook_event_name":"Stop","session_id":"c","transcript_path":")" + transcript() +
       R"("})");
  EXPECT_EQ(crew.sessions().at(1).contextLimit, 258'400);
}

// A session has one transcript read in flight at a time; a request made meanwhile is not lost
// but runs when that read is back.
TEST_F(CrewModelTest, ARequestDuringAReadRunsAfterIt) {
  const auto at = [&](std::chrono::milliseconds offset) {
    auto event =
        HookEvent::decode(R"({"hook_event_name":"Stop","session_id":"s","transcript_path":")" +
                              transcript() + R"("})",
                          loop.now() + offset);
    return *event;
  };
  setTokens(50'000);
  crew.reduce(at(0ms));  // the read is done, its result not yet applied
  setTokens(100'000);
  crew.reduce(at(500ms));
  loop.runPending();
  EXPECT_EQ(session().clutter, 7);  // trunc(0.5 × 14): from the second read
}

TEST_F(CrewModelTest, RemovalForgetsTheSessionsCompaction) {
  const std::string path = R"(,"transcript_path":")" + transcript() + R"("})";
  setTokens(180'000);
  send(R"({"hook_event_name":"PreCompact","session_id":"s")" + path);
  send(R"({"hook_event_name":"SessionEnd","session_id":"s"})");
  loop.advance(14s);
  ASSERT_TRUE(crew.sessions().empty());
  // A new session under the same id starts afresh: its first read is not held back by the old
  // session's compaction.
  setTokens(190'000);
  send(R"({"hook_event_name":"PostToolUse","session_id":"s")" + path);
  EXPECT_EQ(session().clutter, 13);  // trunc(0.95 × 14)
}

TEST_F(CrewModelTest, NotifiesObserversOfEveryChange) {
  int changes = 0;
  const auto id = crew.observe([&] { ++changes; });
  send(R"({"hook_event_name":"UserPromptSubmit","session_id":"s","prompt":"hi"})");
  EXPECT_EQ(changes, 1);
  send(R"({"hook_event_name":"Stop","session_id":""})");  // ignored: no change
  EXPECT_EQ(changes, 1);
  send(R"({"hook_event_name":"SessionEnd","session_id":"s"})");
  EXPECT_GE(changes, 2);
  const int beforeRemoval = changes;
  loop.advance(15s);
  EXPECT_EQ(changes, beforeRemoval + 1);  // the removal
  EXPECT_TRUE(crew.sessions().empty());
  crew.unobserve(id);
  send(R"({"hook_event_name":"Stop","session_id":"s"})");
  EXPECT_EQ(changes, beforeRemoval + 1);
}

TEST(CrewModelLifetime, PendingTimersOutliveTheModelHarmlessly) {
  LoopScheduler loop{Scheduler::TimePoint{}};
  {
    CrewModel crew(loop);
    crew.startReaper();
    crew.startReaper();  // only one reaper
    for (const char* json :
         {R"({"hook_event_name":"SessionStart","session_id":"a"})",
          R"({"hook_event_name":"SessionEnd","session_id":"a"})",
          R"({"hook_event_name":"SubagentStop","session_id":"b","agent_id":"x"})"}) {
      crew.reduce(*HookEvent::decode(json, loop.now()));
    }
    EXPECT_EQ(loop.pendingTimers(), 3u);
  }
  loop.advance(std::chrono::seconds(60));  // departure steps and removal find no model
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

}  // namespace
}  // namespace tallyloft
