// Crew model costs: reduce() on a realistic mixed event stream, and the transcript read against a
// naive reader that parses every line of the whole file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "base/LoopScheduler.h"
#include "crew/ContextTokens.h"
#include "crew/CrewModel.h"

namespace tallyloft {
namespace {

// 20 sessions with up to 6 subagents each: prompts, tool start/end pairs on the main agent and
// the subagents, notifications, permission requests, stops and subagent starts and stops.
std::vector<HookEvent> mixedStream(std::size_t count) {
  std::mt19937 random(42);
  const char* tools[] = {
      "Bash", "Read", "Edit", "Grep", "Glob", "WebFetch", "mcp__github__get_issue", "TodoWrite"};
  std::vector<HookEvent> events;
  events.reserve(count);
  auto add = [&](std::string json) { events.push_back(*HookEvent::decode(json)); };
  while (events.size() < count) {
    const std::string sid =
        "0b8e3c1a-6f2d-4b7e-9a51-" + std::to_string(100000000000 + random() % 20);
    const std::string head = R"({"session_id":")" + sid + R"(","cwd":"/home/dev/src/project)" +
                             std::to_string(random() % 20) + R"(","permission_mode":"default",)";
    const unsigned roll = random() % 100;
    const unsigned sub = random() % 7;  // 0: the main agent
    const std::string agent =
        sub == 0 ? ""
                 : R"("agent_id":"agent-)" + std::to_string(sub) + R"(","agent_type":"Explore",)";
    if (roll < 8) {
      add(head +
          R"("hook_event_name":"UserPromptSubmit","prompt":"Refactor the hook server so that idle connections time out after ten seconds"})");
    } else if (roll < 80) {
      const char* tool = tools[random() % 8];
      add(head + agent + R"("hook_event_name":"PreToolUse","tool_name":")" + tool +
          R"(","tool_input":{"command":"cmake --build --preset dev","file_path":"/home/dev/src/project/src/hooks/HookServer.cpp"}})");
      add(head + agent + R"("hook_event_name":"PostToolUse","tool_name":")" + tool + R"("})");
    } else if (roll < 85) {
      add(head +
          R"("hook_event_name":"Notification","message":"Claude is waiting for your input"})");
    } else if (roll < 88) {
      add(head + agent + R"("hook_event_name":"PermissionRequest","tool_name":"Bash"})");
    } else if (roll < 94) {
      add(head + R"("hook_event_name":"Stop"})");
    } else if (roll < 98 && sub != 0) {
      add(head + agent + R"("hook_event_name":"SubagentStart"})");
    } else if (sub != 0) {
      add(head + agent + R"("hook_event_name":"SubagentStop"})");
    }
  }
  // Ten events per millisecond of receive time.
  const auto start = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  for (std::size_t i = 0; i < events.size(); ++i) {
    events[i].receivedAt = start + std::chrono::microseconds(100 * i);
  }
  return events;
}

void BM_Reduce(benchmark::State& state) {
  const std::vector<HookEvent> events = mixedStream(200'000);
  LoopScheduler loop{Scheduler::TimePoint(std::chrono::seconds(1'700'000'000))};
  CrewModel crew(loop);
  std::size_t next = 0;
  for (auto _ : state) {
    crew.reduce(events[next]);
    if (++next == events.size()) {
      next = 0;
      state.PauseTiming();
      loop.advance(std::chrono::seconds(30));  // let subagent removals run
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Reduce);

enum class Format { claude, codex, gemini };

// One realistic line of a transcript in `format`, carrying a usage record that grows with `line`.
std::string transcriptLine(Format format, int line, const std::string& padding) {
  const std::string n = std::to_string(line);
  switch (format) {
    case Format::claude:
      return R"({"parentUuid":"4b1d","isSidechain":false,"type":"assistant","message":{"id":"msg_)" +
             n + R"(","role":"assistant","content":[{"type":"text","text":")" + padding +
             R"("}],"usage":{"input_tokens":4,"cache_creation_input_tokens":)" + n +
             R"(,"cache_read_input_tokens":98729,"output_tokens":112}}})";
    case Format::codex:
      // A model reply, then its token count, as a rollout records them.
      return R"({"timestamp":"2026-12-06T23:39:03.434Z","type":"response_item","payload":{"type":)"
             R"("message","role":"assistant","content":[{"type":"output_text","text":")" +
             padding + R"("}]}})" + "\n" +
             R"({"timestamp":"2026-12-06T23:39:03.435Z","type":"event_msg","payload":{"type":)"
             R"("token_count","info":{"total_token_usage":{"input_tokens":)" +
             n + R"(},"last_token_usage":{"input_tokens":)" + n +
             R"(,"cached_input_tokens":1000,"output_tokens":20},"model_context_window":258400}}})";
    case Format::gemini:
      return R"({"id":"60bee1b2","timestamp":"2026-12-06T23:38:58.394Z","type":"gemini","content":")" +
             padding + R"(","thoughts":[],"tokens":{"input":)" + n +
             R"(,"output":20,"cached":1000,"total":)" + n + R"(},"model":"gemini-3.8-flash"})";
  }
  return {};
}

// A 5 MB transcript of realistic lines whose newest usage record sits near the end.
std::string makeTranscript(Format format) {
  const std::string path =
      (std::filesystem::temp_directory_path() /
       ("tallyloft-bench-transcript-" + std::to_string(static_cast<int>(format)) + ".jsonl"))
          .string();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const std::string padding(1500, 'x');
  std::size_t written = 0;
  for (int line = 1; written < 5'000'000; ++line) {
    const std::string text = transcriptLine(format, line, padding) + "\n";
    file << text;
    written += text.size();
  }
  for (int i = 0; i < 4; ++i) {
    file << R"({"type":"progress","data":{"type":"hook_progress","hookName":"PostToolUse"}})"
         << "\n";
  }
  return path;
}

// Parses every line of the whole file and keeps the last qualifying record.
std::optional<std::int64_t> naiveContextTokens(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::optional<std::int64_t> tokens;
  for (std::string line; std::getline(file, line);) {
    const auto record = nlohmann::json::parse(line, nullptr, false);
    if (!record.is_object() || record.value("isSidechain", false)) continue;
    const nlohmann::json* usage = nullptr;
    if (record.contains("message") && record["message"].is_object() &&
        record["message"].contains("usage")) {
      usage = &record["message"]["usage"];
    } else if (record.contains("usage")) {
      usage = &record["usage"];
    }
    if (usage == nullptr || !usage->is_object()) continue;
    const std::int64_t total = usage->value("input_tokens", std::int64_t{0}) +
                               usage->value("cache_read_input_tokens", std::int64_t{0}) +
                               usage->value("cache_creation_input_tokens", std::int64_t{0});
    if (total > 0) tokens = total;
  }
  return tokens;
}

const std::string& transcript(Format format = Format::claude) {
  static const std::string paths[] = {makeTranscript(Format::claude), makeTranscript(Format::codex),
                                      makeTranscript(Format::gemini)};
  return paths[static_cast<int>(format)];
}

void BM_ContextTokens(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(contextTokens(transcript()));
}
BENCHMARK(BM_ContextTokens)->Unit(benchmark::kMillisecond);

void BM_ContextTokensCodex(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(readContext(transcript(Format::codex)));
}
BENCHMARK(BM_ContextTokensCodex)->Unit(benchmark::kMillisecond);

void BM_ContextTokensGemini(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(readContext(transcript(Format::gemini)));
}
BENCHMARK(BM_ContextTokensGemini)->Unit(benchmark::kMillisecond);

void BM_ContextTokensNaive(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(naiveContextTokens(transcript()));
}
BENCHMARK(BM_ContextTokensNaive)->Unit(benchmark::kMillisecond);

double millisPerCall(const std::function<void()>& call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) call();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
             .count() /
         10;
}

}  // namespace
}  // namespace tallyloft

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  using namespace tallyloft;
  if (contextTokens(transcript()) != naiveContextTokens(transcript())) {
    std::printf("contextTokens and the naive reader disagree!\n");
    return 1;
  }
  const double ours = millisPerCall([] { benchmark::DoNotOptimize(contextTokens(transcript())); });
  const double naive =
      millisPerCall([] { benchmark::DoNotOptimize(naiveContextTokens(transcript())); });
  std::printf(
      "\ncontextTokens on a 5 MB transcript: %.3f ms per call; naive whole-file reader: %.1f ms "
      "(%.0fx slower)\n",
      ours, naive, naive / ours);
  for (const auto& [format, name] :
       {std::pair{Format::codex, "Codex rollout"}, std::pair{Format::gemini, "Gemini chat"}}) {
    if (!readContext(transcript(format))) {
      std::printf("no usage found in the %s transcript!\n", name);
      return 1;
    }
    const double millis =
        millisPerCall([format] { benchmark::DoNotOptimize(readContext(transcript(format))); });
    std::printf("readContext on a 5 MB %s: %.3f ms per call\n", name, millis);
  }
  for (Format format : {Format::claude, Format::codex, Format::gemini}) {
    std::filesystem::remove(transcript(format));
  }
  return 0;
}
