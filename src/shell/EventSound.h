#pragma once

#include <string>

struct ca_context;

namespace tallyloft {

// The desktop's own event sounds (the freedesktop sound theme, through libcanberra): Tallyloft
// ships no sound file. Nothing plays, and nothing fails, where no sound server runs.
// Main-thread only.
class EventSound {
 public:
  EventSound() = default;
  ~EventSound();
  EventSound(const EventSound&) = delete;
  EventSound& operator=(const EventSound&) = delete;

  // Plays the theme's `eventId` ("dialog-question", "message-new-instant"), described by
  // `description` for accessibility, without waiting for it.
  void play(const std::string& eventId, const std::string& description);

 private:
  ca_context* context_ = nullptr;
  bool failed_ = false;  // no sound server: tried once
};

}  // namespace tallyloft
