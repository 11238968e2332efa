#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/AppModel.h"
#include "base/LoopScheduler.h"

namespace tallyloft {

// One line of a recording: a hook body and when it arrived, in seconds from the start.
struct RecordedEvent {
  double t = 0;
  std::string body;
};

// Reads a recording: JSON lines {"t": SECONDS, "body": OBJECT_OR_STRING} with non-decreasing t
// from 0 to 1e9. An object body is serialised as a CLI would post it, a string body is taken as
// the raw bytes. Blank lines are skipped. Nothing, after writing "line N: …" to `errors`, for a
// malformed line.
std::optional<std::vector<RecordedEvent>> readRecording(std::istream& input, std::ostream& errors);

// The same from the file at `path` ("-" reads standard input); "Cannot open PATH" to `errors`
// when it cannot be opened.
std::optional<std::vector<RecordedEvent>> readRecordingFile(const std::string& path,
                                                            std::ostream& errors);

// Whether `seconds` is a moment a recording can hold.
bool isRecordingTime(double seconds);

// Plays a recording into an application model on virtual time that starts at 0.
class RecordingPlayer {
 public:
  explicit RecordingPlayer(std::vector<RecordedEvent> events);

  AppModel& app() { return app_; }
  LoopScheduler& loop() { return loop_; }
  // Moves the clock to `seconds`, delivering every event up to and including that moment in
  // order; timers due at or before an event's moment fire before it, background transcript reads
  // are applied right after the event that started them. Never moves backwards.
  void playTo(double seconds);
  double lastEventTime() const { return events_.empty() ? 0 : events_.back().t; }

 private:
  void advanceTo(double seconds);

  std::vector<RecordedEvent> events_;
  std::size_t next_ = 0;
  LoopScheduler loop_;
  AppModel app_;
  std::chrono::nanoseconds now_{0};
};

}  // namespace tallyloft
