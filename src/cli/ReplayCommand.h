#pragma once

#include <iosfwd>
#include <vector>

namespace tallyloft {

// Feeds a recorded event file through the application model on virtual time and writes one JSON
// snapshot line per moment in `at` (ascending), or one after the last event when `at` is empty.
//
// Input lines are {"t": SECONDS, "body": OBJECT_OR_STRING} with non-decreasing t; an object body
// is serialised and decoded like a posted body, a string body is taken as the raw bytes. Blank
// lines are skipped. Timers due at or before a moment fire before the events of that moment;
// background transcript reads are applied right after the event that started them.
// Returns 0, or 2 after writing "line N: …" to `errors` for a malformed line.
int replayEvents(std::istream& input, std::vector<double> at, std::ostream& output,
                 std::ostream& errors);

}  // namespace tallyloft
