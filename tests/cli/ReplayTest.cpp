#include "cli/ReplayCommand.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tallyloft {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Each tests/scenarios/NAME.jsonl is replayed at the moments ("t") of NAME.expected, and must
// print exactly NAME.expected. @REALDATA@ in a recording stands for the real-data folder.
TEST(Replay, ScenariosGiveTheirExpectedSnapshots) {
  const fs::path folder = fs::path(TALLYLOFT_SOURCE_DIR) / "tests" / "scenarios";
  const fs::path realdata = TALLYLOFT_REALDATA_DIR;
  int scenarios = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".jsonl") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::string recording = readFile(entry.path());
    if (recording.find("@REALDATA@") != std::string::npos) {
      if (!fs::is_directory(realdata)) continue;
      for (std::size_t at; (at = recording.find("@REALDATA@")) != std::string::npos;) {
        recording.replace(at, 10, realdata.string());
      }
    }
    const std::string expected = readFile(fs::path(entry.path()).replace_extension(".expected"));
    std::vector<double> moments;
    std::istringstream lines(expected);
    for (std::string line; std::getline(lines, line);) {
      moments.push_back(nlohmann::json::parse(line).at("t").get<double>());
    }
    std::istringstream input(recording);
    std::ostringstream output;
    std::ostringstream errors;
    EXPECT_EQ(replayEvents(input, moments, output, errors), 0) << errors.str();
    EXPECT_EQ(output.str(), expected);
    ++scenarios;
  }
  EXPECT_GE(scenarios, 3);
}

TEST(Replay, DefaultsToOneSnapshotAfterTheLastEvent) {
  std::istringstream input(
      "\n{\"t\": 0.25, \"body\": {\"hook_event_name\": \"Stop\", \"session_id\": \"a\"}}\n\n");
  std::ostringstream output;
  std::ostringstream errors;
  EXPECT_EQ(replayEvents(input, {}, output, errors), 0);
  EXPECT_EQ(output.str().rfind(
                R"({"t":0.25,"eventCount":1,"activeSessionCount":1,"sessions":[{"id":"a",)", 0),
            0u)
      << output.str();
  std::istringstream empty("");
  std::ostringstream none;
  EXPECT_EQ(replayEvents(empty, {}, none, errors), 0);
  EXPECT_EQ(none.str(), "{\"t\":0,\"eventCount\":0,\"activeSessionCount\":0,\"sessions\":[]}\n");
}

TEST(Replay, StopsAtAMalformedLineNamingIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"{\"t\": 1, \"body\": {}}\nnot json\n", "line 2: not a JSON object\n"},
      {"{\"body\": {}}\n", "line 1: \"t\" must be a number of seconds\n"},
      {"{\"t\": -1, \"body\": {}}\n", "line 1: \"t\" must be 0 to 1000000000 seconds\n"},
      {"{\"t\": 1e10, \"body\": {}}\n", "line 1: \"t\" must be 0 to 1000000000 seconds\n"},
      {"{\"t\": 2, \"body\": {}}\n\n{\"t\": 1, \"body\": {}}\n",
       "line 3: \"t\" goes back in time\n"},
      {"{\"t\": 1, \"body\": [1]}\n", "line 1: \"body\" must be an object or a string\n"},
  };
  for (const auto& [text, message] : cases) {
    std::istringstream input(text);
    std::ostringstream output;
    std::ostringstream errors;
    EXPECT_EQ(replayEvents(input, {}, output, errors), 2) << text;
    EXPECT_EQ(errors.str(), message);
    EXPECT_EQ(output.str(), "");
  }
  for (double moment : {std::nan(""), 2e9, -1.0}) {
    std::istringstream input("");
    std::ostringstream output;
    std::ostringstream errors;
    EXPECT_EQ(replayEvents(input, {1.0, moment}, output, errors), 2) << moment;
    EXPECT_EQ(output.str(), "");
  }
}

}  // namespace
}  // namespace tallyloft
