#include "crew/ContextTokens.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/TempHome.h"

namespace tallyloft {
namespace {

namespace fs = std::filesystem;

class ContextTokensTest : public test::TempHome {
 protected:
  std::optional<std::int64_t> tokensOf(const std::string& text) {
    const fs::path path = home() / "transcript.jsonl";
    write(path, text);
    return contextTokens(path.string());
  }
};

TEST_F(ContextTokensTest, ReadsTheRealTranscripts) {
  const fs::path folder = fs::path(TALLYLOFT_REALDATA_DIR) / "transcripts";
  if (!fs::is_directory(folder)) GTEST_SKIP() << "no " << folder;
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"claude-code-log-sidechain-integrated-v2.0.46.jsonl", 144'227},
      {"claude-parser-3a7770b4-main-v1.0.89.jsonl", 16'340},
      {"spotter-4d5611e5-main-tail-v2.1.39.jsonl", 106'060},
      {"spotter-4d5611e5-subagent-a2898e3-v2.1.39.jsonl", std::nullopt},  // all sidechain
  };
  for (const auto& [name, tokens] : cases) {
    EXPECT_EQ(contextTokens((folder / name).string()), tokens) << name;
  }
  // The current releases of the three CLIs, each after one turn with about 154,000 tokens.
  const std::pair<const char*, ContextReading> current[] = {
      {"claude-2.1.197-main.jsonl", {154'321, std::nullopt, std::nullopt}},
      {"codex-0.171.0-rollout.jsonl", {154'321, 258'400, std::nullopt}},
      {"gemini-0.61.0-chat.jsonl", {154'321, std::nullopt, "gemini-3.8-flash"}},
  };
  for (const auto& [name, reading] : current) {
    EXPECT_EQ(readContext((folder / name).string()), reading) << name;
  }
}

TEST_F(ContextTokensTest, ReadsCodexAndGeminiUsageRecords) {
  const auto codexCount = [](int input, const std::string& window) {
    return R"({"type":"event_msg","payload":{"type":"token_count","info":{"last_token_usage":)"
           R"({"input_tokens":)" +
           std::to_string(input) + R"(,"cached_input_tokens":900,"output_tokens":5})" + window +
           "}}}\n";
  };
  const std::string record =
      R"({"type":"token_usage_record","payload":{"usage":{"input_tokens":1200,)"
      R"("cached_input_tokens":1000}}})"
      "\n";
  const auto readingOf = [&](const std::string& text) {
    write(home() / "t.jsonl", text);
    return readContext((home() / "t.jsonl").string());
  };
  // Input tokens alone: Codex counts the cached ones inside them.
  EXPECT_EQ(readingOf(record), (ContextReading{1200, std::nullopt, std::nullopt}));
  EXPECT_EQ(readingOf(record + codexCount(1500, R"(,"model_context_window":272000)")),
            (ContextReading{1500, 272'000, std::nullopt}));
  // A token count without usage yet ("info":null), another event, or a zero count: not used.
  EXPECT_EQ(readingOf(record +
                      R"({"type":"event_msg","payload":{"type":"token_count","info":null}})"
                      "\n" +
                      R"({"type":"event_msg","payload":{"type":"agent_message","info":)"
                      R"({"last_token_usage":{"input_tokens":9}}}})"
                      "\n" +
                      codexCount(0, "")),
            (ContextReading{1200, std::nullopt, std::nullopt}));

  const std::string gemini =
      R"({"type":"gemini","tokens":{"input":5000,"cached":4000,"output":7},"model":"gemini-2.5-pro"})"
      "\n";
  EXPECT_EQ(readingOf(gemini), (ContextReading{5000, std::nullopt, "gemini-2.5-pro"}));
  // The user's lines and a reply without a count are skipped; a line without a model still counts.
  EXPECT_EQ(readingOf(gemini + R"({"type":"user","tokens":{"input":1}})" + "\n" +
                      R"({"type":"gemini","tokens":{"input":0}})" + "\n" +
                      R"({"type":"gemini","content":"the \"tokens\" word"})" + "\n"),
            (ContextReading{5000, std::nullopt, "gemini-2.5-pro"}));
  EXPECT_EQ(readingOf(gemini + R"({"type":"gemini","tokens":{"input":6000}})"),
            (ContextReading{6000, std::nullopt, std::nullopt}));
}

TEST_F(ContextTokensTest, TakesTheNewestQualifyingUsageRecord) {
  const std::string usage3500 =
      R"({"message":{"usage":{"input_tokens":1000,"cache_read_input_tokens":2000,)"
      R"("cache_creation_input_tokens":500,"output_tokens":99}}})";
  EXPECT_EQ(tokensOf(usage3500 + "\n" +
                     R"({"isSidechain":true,"message":{"usage":{"input_tokens":7}}})" + "\n"),
            3500);
  EXPECT_EQ(tokensOf(R"({"usage":{"input_tokens":12}})"), 12);  // top level, no newline at end
  EXPECT_EQ(tokensOf(R"({"usage":{"input_tokens":10.9,"cache_read_input_tokens":"5"}})"), 10);
  EXPECT_EQ(tokensOf(usage3500 + "\n" + R"({"usage":{"input_tokens":0}})" + "\n\n" +
                     R"({"type":"progress","data":"usage"})" + "\n" + "not json \"usage\"\n"),
            3500);
  // Counts beyond 64 bits skip the record instead of stopping the program.
  EXPECT_EQ(tokensOf(usage3500 + "\n" + R"({"usage":{"input_tokens":1e19}})"), 3500);
  EXPECT_EQ(
      tokensOf(
          usage3500 + "\n" +
          R"({"usage":{"input_tokens":9000000000000000000,"cache_read_input_tokens":9000000000000000000}})"),
      3500);
  // Bytes that are not UTF-8 are replaced, not fatal.
  EXPECT_EQ(tokensOf("{\"note\":\"\xff\xfe\",\"usage\":{\"input_tokens\":4}}\r\n"), 4);
  EXPECT_EQ(tokensOf(R"({"usage":{"input_tokens":0}})"), std::nullopt);
  EXPECT_EQ(tokensOf(""), std::nullopt);
}

TEST_F(ContextTokensTest, ReadsOnlyTheTailAndDropsItsCutFirstLine) {
  std::string tail = R"({"usage":{"input_tokens":7}})";
  tail += "\n";
  while (tail.size() < 2'000'000) tail += std::string(99, 'B') + "\n";
  tail.resize(2'000'000);
  tail.back() = '\n';
  EXPECT_EQ(tokensOf(tail), 7);  // exactly the tail size: nothing is cut
  // Five megabytes: the cut lands on the usage line, which must then count as partial.
  EXPECT_EQ(tokensOf(std::string(3'000'000, 'A') + tail), std::nullopt);
}

// The CLI rewrites or rotates its transcript while we read it: every reading is whole or none.
TEST_F(ContextTokensTest, ATranscriptTruncatedOrRotatedMidReadGivesAWholeAnswerOrNone) {
  const fs::path path = home() / "live.jsonl";
  std::string full;
  for (int i = 0; i < 4000; ++i) {
    full += R"({"message":{"usage":{"input_tokens":)" + std::to_string(1000 + i) +
            R"(,"cache_read_input_tokens":0,"cache_creation_input_tokens":0}}})" + "\n";
  }
  write(path, full);
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (int round = 0; round < 300 && !done; ++round) {
      if (round % 3 == 0) {
        ::truncate(path.c_str(), static_cast<off_t>(full.size() / 2 + 17));  // cut mid-line
      } else if (round % 3 == 1) {
        const fs::path next = home() / "next.jsonl";
        write(next, full);
        fs::rename(next, path);  // rotated: a new file under the same name
      } else {
        write(path, full.substr(0, full.size() / 3));
      }
    }
  });
  for (int i = 0; i < 300; ++i) {
    const auto tokens = contextTokens(path.string());
    if (tokens) {
      EXPECT_GE(*tokens, 1000);
      EXPECT_LE(*tokens, 1000 + 3999);
    }
  }
  done = true;
  churn.join();
}

TEST_F(ContextTokensTest, NeverBlocksOnSpecialFiles) {
  const fs::path fifo = home() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(contextTokens(fifo.string()), std::nullopt);  // no writer: must not wait for one
  EXPECT_EQ(contextTokens("/dev/zero"), std::nullopt);
  EXPECT_EQ(contextTokens(home().string()), std::nullopt);
  EXPECT_EQ(contextTokens((home() / "missing").string()), std::nullopt);
  EXPECT_EQ(contextTokens(""), std::nullopt);
  EXPECT_EQ(contextTokens(std::nullopt), std::nullopt);
}

TEST(ContextBracket, RoundsUpToAWindowSize) {
  EXPECT_EQ(contextBracket(0), 200'000);
  EXPECT_EQ(contextBracket(200'000), 200'000);
  EXPECT_EQ(contextBracket(200'001), 400'000);
  EXPECT_EQ(contextBracket(1'000'000), 1'000'000);
  EXPECT_EQ(contextBracket(1'000'001), 2'000'000);
}

}  // namespace
}  // namespace tallyloft
