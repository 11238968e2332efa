#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tallyloft {

// How much of a transcript's end is read.
inline constexpr std::int64_t kTranscriptTailBytes = 2'000'000;

// The tokens in use according to a CLI transcript (JSON lines): from the newest line that has a
// usage record and is not a sidechain, input + cache read + cache creation tokens, if at least
// 1. Reads at most the last kTranscriptTailBytes of a regular file, never blocks on a FIFO or a
// device, and yields nothing for any file problem. A record whose counts do not fit 64 bits is
// skipped. Blocking file I/O; safe on any thread.
std::optional<std::int64_t> contextTokens(const std::optional<std::string>& transcriptPath);

// The context window size bracket that holds `tokens`: 200000, 400000, 1000000 or 2000000.
std::int64_t contextBracket(std::int64_t tokens);

}  // namespace tallyloft
