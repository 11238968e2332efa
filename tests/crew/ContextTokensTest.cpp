#include "crew/ContextTokens.h"

#include <sys/stat.h>

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
