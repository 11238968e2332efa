#pragma once

#include <chrono>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "hooks/HookEvent.h"

namespace tallyloft {

// One line of JSON for an event: its fourteen fields under their hook keys (absent ones left
// out), "receivedAt" and, when there is one, "target". No trailing newline.
std::string eventJsonLine(const HookEvent& event);

// A number as JSON: integral values (within 2^53) as integers, others as floats.
nlohmann::ordered_json numberJson(double number);

// "2026-12-06T20:12:13.123Z".
std::string iso8601(std::chrono::system_clock::time_point time);

}  // namespace tallyloft
