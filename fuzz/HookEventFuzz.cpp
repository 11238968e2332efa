// Decodes arbitrary bytes as a hook event, and checks our JSON reader against nlohmann/json:
// both must accept and reject the same documents.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "hooks/HookEvent.h"
#include "hooks/JsonReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto event = tallyloft::HookEvent::decode(bytes)) {
    if (auto target = event->target()) {
      if (target->empty()) std::abort();
    }
  }
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
