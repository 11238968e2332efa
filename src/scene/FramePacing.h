#pragma once

#include <chrono>

namespace tallyloft {

// How much of the office moves, from most to least.
enum class OfficeActivity {
  // Something the user should notice moves: agents at work, walks, a compaction, things in the
  // air, the magnifier.
  busy,
  // Only agents waiting for the user, and loungers.
  waiting,
  // Only loungers, bench robots, the couch routine and the lobby pair.
  calm,
};

// The time from one frame to the next for the office's activity: 60 frames a second while it is
// busy (30 when the GL driver draws on the CPU), and 20 a second while only waiting agents and
// loungers move. Motion is time-based, so fewer frames show the same movement.
constexpr std::chrono::microseconds frameInterval(OfficeActivity activity, bool softwareRendering) {
  if (activity != OfficeActivity::busy) return std::chrono::microseconds(50000);
  return std::chrono::microseconds(softwareRendering ? 33334 : 16667);
}

}  // namespace tallyloft
