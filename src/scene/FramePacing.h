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
// busy, and 20 while only waiting agents and loungers move; half those where the GL driver draws
// on the CPU, and every frame costs real processor time. Motion is time-based, so fewer frames
// show the same movement.
constexpr std::chrono::microseconds frameInterval(OfficeActivity activity, bool softwareRendering) {
  if (activity != OfficeActivity::busy)
    return std::chrono::microseconds(softwareRendering ? 100000 : 50000);
  return std::chrono::microseconds(softwareRendering ? 33334 : 16667);
}

}  // namespace tallyloft
