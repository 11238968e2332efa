#include "cli/ReplayCommand.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "app/AppModel.h"
#include "base/LoopScheduler.h"
#include "cli/CrewJson.h"

namespace tallyloft {
namespace {

std::chrono::nanoseconds toDuration(double seconds) {
  return std::chrono::nanoseconds(std::llround(seconds * 1e9));
}

// Virtual time counts nanoseconds in 64 bits: about 292 years; a round billion seconds is ample.
constexpr double kLongestReplay = 1e9;

bool isReplayTime(double seconds) {
  return std::isfinite(seconds) && seconds >= 0 && seconds <= kLongestReplay;
}

bool isBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

int replayEvents(std::istream& input, std::vector<double> at, std::ostream& output,
                 std::ostream& errors) {
  for (double moment : at) {
    if (!isReplayTime(moment)) {
      errors << "--at " << moment << ": must be 0 to " << kLongestReplay << " seconds\n";
      return 2;
    }
  }
  std::sort(at.begin(), at.end());
  LoopScheduler loop{Scheduler::TimePoint{}};  // virtual seconds from 0
  AppModel app(loop, std::nullopt);
  app.start();

  std::chrono::nanoseconds now{0};
  const auto advanceTo = [&](double seconds) {
    const auto target = toDuration(seconds);
    if (target > now) {
      loop.advance(target - now);
      now = target;
    }
    loop.runPending();
  };
  std::size_t nextAt = 0;
  const auto snapshotsBefore = [&](double seconds, bool inclusive) {
    while (nextAt < at.size() && (at[nextAt] < seconds || (inclusive && at[nextAt] <= seconds))) {
      advanceTo(at[nextAt]);
      output << crewSnapshotJson(at[nextAt], app) << '\n';
      ++nextAt;
    }
  };

  double last = 0;
  std::string line;
  for (std::size_t number = 1; std::getline(input, line); ++number) {
    if (isBlank(line)) continue;
    const auto fail = [&](const std::string& why) {
      errors << "line " << number << ": " << why << '\n';
      return 2;
    };
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object()) return fail("not a JSON object");
    const auto t = record.find("t");
    if (t == record.end() || !t->is_number()) return fail("\"t\" must be a number of seconds");
    const double seconds = t->get<double>();
    if (!isReplayTime(seconds)) return fail("\"t\" must be 0 to 1000000000 seconds");
    if (seconds < last) return fail("\"t\" goes back in time");
    const auto body = record.find("body");
    if (body == record.end() || !(body->is_object() || body->is_string())) {
      return fail("\"body\" must be an object or a string");
    }
    snapshotsBefore(seconds, false);
    advanceTo(seconds);
    last = seconds;
    const std::string bytes =
        body->is_string() ? body->get<std::string>()
                          : body->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (auto event = HookEvent::decode(bytes, loop.now())) app.receive(*event);
    loop.runPending();  // results of background reads the event started
  }
  if (at.empty()) {
    output << crewSnapshotJson(last, app) << '\n';
  } else {
    snapshotsBefore(INFINITY, true);
  }
  return 0;
}

}  // namespace tallyloft
