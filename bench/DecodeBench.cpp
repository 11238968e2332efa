#include <benchmark/benchmark.h>

#include "RealisticRequest.h"
#include "hooks/HookEvent.h"
#include "hooks/RequestParser.h"

namespace tallyloft {
namespace {

// What the server does for one request once its bytes are in: assemble, decode, derive target.
void BM_ParseAndDecodeRequest(benchmark::State& state) {
  const std::string request = bench::preToolUseRequest();
  for (auto _ : state) {
    RequestAssembler assembler;
    assembler.append(request);
    auto event = HookEvent::decode(assembler.body());
    benchmark::DoNotOptimize(event);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * request.size()));
}
BENCHMARK(BM_ParseAndDecodeRequest);

void BM_ParseBody(benchmark::State& state) {
  const std::string request = bench::preToolUseRequest();
  for (auto _ : state) benchmark::DoNotOptimize(parseBody(request));
}
BENCHMARK(BM_ParseBody);

void BM_DecodeEvent(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(HookEvent::decode(bench::kPreToolUseBody));
}
BENCHMARK(BM_DecodeEvent);

void BM_Target(benchmark::State& state) {
  const auto event = HookEvent::decode(bench::kPreToolUseBody);
  for (auto _ : state) benchmark::DoNotOptimize(event->target());
}
BENCHMARK(BM_Target);

}  // namespace
}  // namespace tallyloft

BENCHMARK_MAIN();
