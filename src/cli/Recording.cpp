#include "cli/Recording.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>

namespace tallyloft {
namespace {

// Virtual time counts nanoseconds in 64 bits: about 292 years; a round billion seconds is ample.
constexpr double kLongestRecording = 1e9;

bool isBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

bool isRecordingTime(double seconds) {
  return std::isfinite(seconds) && seconds >= 0 && seconds <= kLongestRecording;
}

std::optional<std::vector<RecordedEvent>> readRecording(std::istream& input, std::ostream& errors) {
  std::vector<RecordedEvent> events;
  double last = 0;
  std::string line;
  for (std::size_t number = 1; std::getline(input, line); ++number) {
    if (isBlank(line)) continue;
    const auto fail = [&](const std::string& why) {
      errors << "line " << number << ": " << why << '\n';
      return std::nullopt;
    };
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object()) return fail("not a JSON object");
    const auto t = record.find("t");
    if (t == record.end() || !t->is_number()) return fail("\"t\" must be a number of seconds");
    const double seconds = t->get<double>();
    if (!isRecordingTime(seconds)) return fail("\"t\" must be 0 to 1000000000 seconds");
    if (seconds < last) return fail("\"t\" goes back in time");
    const auto body = record.find("body");
    if (body == record.end() || !(body->is_object() || body->is_string())) {
      return fail("\"body\" must be an object or a string");
    }
    last = seconds;
    events.push_back(
        {seconds, body->is_string()
                      ? body->get<std::string>()
                      : body->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)});
  }
  return events;
}

std::optional<std::vector<RecordedEvent>> readRecordingFile(const std::string& path,
                                                            std::ostream& errors) {
  if (path == "-") return readRecording(std::cin, errors);
  std::ifstream file(path);
  if (!file) {
    errors << "Cannot open " << path << '\n';
    return std::nullopt;
  }
  return readRecording(file, errors);
}

RecordingPlayer::RecordingPlayer(std::vector<RecordedEvent> events)
    : events_(std::move(events)), loop_(Scheduler::TimePoint{}), app_(loop_, std::nullopt) {
  app_.start();
}

void RecordingPlayer::advanceTo(double seconds) {
  const auto target = std::chrono::nanoseconds(std::llround(seconds * 1e9));
  if (target > now_) {
    loop_.advance(target - now_);
    now_ = target;
  }
  loop_.runPending();
}

void RecordingPlayer::playTo(double seconds) {
  while (next_ < events_.size() && events_[next_].t <= seconds) {
    const RecordedEvent& event = events_[next_++];
    advanceTo(event.t);
    if (auto decoded = HookEvent::decode(event.body, loop_.now())) app_.receive(*decoded);
    loop_.runPending();  // results of background reads the event started
  }
  advanceTo(seconds);
}

}  // namespace tallyloft
