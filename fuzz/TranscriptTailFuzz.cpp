// Reads arbitrary bytes as the tail of a transcript (Claude Code, Codex or Gemini CLI lines).
// Beyond not crashing: a reading holds at least 1 token and a positive window; a line before the
// tail's cut is never used; a trailing line break changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "crew/ContextTokens.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto reading = tallyloft::readContextTail(text, false);
  if (reading) {
    if (reading->tokens < 1) std::abort();
    if (reading->window && *reading->window < 1) std::abort();
  }
  if (tallyloft::readContextTail("{\"usage\":{\"input_tokens\":7}}\n" + std::string(text), true) !=
      reading) {
    std::abort();
  }
  if (tallyloft::readContextTail(std::string(text) + "\n", false) != reading) std::abort();
  return 0;
}
