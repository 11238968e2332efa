#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tallyloft {

// How much of a transcript's end is searched for an interrupt.
inline constexpr std::int64_t kInterruptTailBytes = 64 * 1024;

// When the CLI last wrote that the user interrupted a turn, as its transcript tells it:
// Claude Code's "[Request interrupted by user…" text, a Codex rollout's "turn_aborted" event, or
// Gemini CLI's "Request cancelled." note, each as a JSON member of the line itself (not quoted
// inside another string, as a tool's output may). The time is the marker line's own "timestamp"
// (UTC, ISO 8601); a marker line without one yields nothing. Only the newest marker counts. Pure.
std::optional<std::chrono::system_clock::time_point> lastInterruptIn(std::string_view tail);

// The same over the last kInterruptTailBytes of the transcript file. Blocking file I/O; safe on
// any thread.
std::optional<std::chrono::system_clock::time_point> lastInterrupt(const std::string& path);

// "2026-12-07T15:04:05.719Z" (fractions and the "Z" optional, always UTC) as a time point.
std::optional<std::chrono::system_clock::time_point> parseUtcTimestamp(std::string_view text);

}  // namespace tallyloft
