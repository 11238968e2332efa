// Decodes arbitrary bytes as a hook event, as the headers' process and terminal hints, and as a
// Claude Code sessions file, and checks our JSON reader against nlohmann/json: both must accept
// and reject the same documents.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "crew/ClaudeSessionFile.h"
#include "crew/TranscriptInterrupt.h"
#include "hooks/HookEvent.h"
#include "hooks/JsonReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto event = tallyloft::HookEvent::decode(bytes)) {
    if (auto target = event->target()) {
      if (target->empty()) std::abort();
    }
  }
  // Hints from any local process: whatever they hold, what is kept has its shape.
  const tallyloft::TerminalHints hints = tallyloft::TerminalHints::parse(bytes);
  if (hints.tmuxPane && hints.tmuxPane->front() != '%') std::abort();
  if (hints.windowId && hints.windowId->size() > 10) std::abort();
  if (auto pid = tallyloft::parsePidHint(bytes); pid && (*pid <= 0 || *pid > (1 << 22))) {
    std::abort();
  }
  if (auto file = tallyloft::ClaudeSessionFile::parse(bytes); file && file->pid <= 0) std::abort();
  tallyloft::lastInterruptIn(bytes);
  // Our reader stops at a nesting depth that nlohmann does not limit.
  const auto opened =
      std::count_if(bytes.begin(), bytes.end(), [](char c) { return c == '[' || c == '{'; });
  if (opened < tallyloft::JsonReader::kMaxDepth) {
    const bool ours = tallyloft::parseJson(bytes).has_value();
    const bool reference = nlohmann::json::accept(bytes.begin(), bytes.end());
    // nlohmann takes a NUL byte as the end of the input; with one, we may only be stricter.
    const bool hasNul = bytes.find('\0') != std::string_view::npos;
    if (hasNul ? (ours && !reference) : (ours != reference)) std::abort();
  }
  return 0;
}
