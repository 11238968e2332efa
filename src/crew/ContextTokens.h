#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tallyloft {

// How much of a transcript's end is read.
inline constexpr std::int64_t kTranscriptTailBytes = 2'000'000;

// What the newest usage record of a transcript says about the context.
struct ContextReading {
  std::int64_t tokens = 0;  // in use, at least 1
  // The window size the record states (Codex's "model_context_window"), when it states one.
  std::optional<std::int64_t> window;
  // The model the record names (Gemini's "model"), when it names one.
  std::optional<std::string> model;

  friend bool operator==(const ContextReading&, const ContextReading&) = default;
};

// The context in use according to a CLI transcript (JSON lines), from its newest line that holds
// a usage record with at least 1 token and is not a sidechain:
// - Claude Code: "usage" under "message" or at the top level; input + cache read + cache
//   creation tokens.
// - Codex rollouts: an "event_msg" of type "token_count" (its "last_token_usage") or a
//   "token_usage_record" (its "usage"); input tokens, which include the cached ones.
// - Gemini chats: a "gemini" line's "tokens"; its "input".
// Reads at most the last kTranscriptTailBytes of a regular file, never blocks on a FIFO or a
// device, and yields nothing for any file problem. A record whose counts do not fit 64 bits is
// skipped. Blocking file I/O; safe on any thread.
std::optional<ContextReading> readContext(const std::optional<std::string>& transcriptPath);

// The last `maxBytes` of the regular file at `path`, and whether the file is longer; nothing
// for an empty file, a file that is not regular, or any error. Never blocks on a FIFO.
std::optional<std::pair<std::string, bool>> readTranscriptTail(const std::string& path,
                                                               std::int64_t maxBytes);

// The tokens of readContext().
std::optional<std::int64_t> contextTokens(const std::optional<std::string>& transcriptPath);

// The same reading over a transcript's tail already in memory; `cut` tells that the text starts
// inside the file, so its first line may be partial and is not used.
std::optional<ContextReading> readContextTail(std::string_view text, bool cut);

// The context window size bracket that holds `tokens`: 200000, 400000, 1000000 or 2000000.
std::int64_t contextBracket(std::int64_t tokens);

}  // namespace tallyloft
