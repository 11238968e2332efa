#pragma once

// The traffic of the soak run: what each post sends, how its reply is judged, and the tallies.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Loopback.h"

namespace tallyloft::soak {

using tallyloft::LocalAddress;

using Clock = std::chrono::steady_clock;

inline constexpr int kSessions = 6;
inline constexpr auto kSocketTimeout = std::chrono::seconds(15);

// The kinds of post, one in ten of them bad.
enum class Kind {
  validPlain,
  validSplit,
  validHangUp,
  validSlow,
  badJson,
  wrongTypes,
  wrongShape,
  originHeader,
  oversized,
  brokenHttp,
  earlyClose,
  slowAbandon,
  slowBad,
  count
};
// What each kind is called in the report.
extern const char* const kKindNames[static_cast<int>(Kind::count)];

// The kind of the post with this index.
Kind kindOf(std::int64_t index);
bool isValid(Kind kind);

struct KindTally {
  std::atomic<std::int64_t> posts{0};
  std::atomic<std::int64_t> fullyWritten{0};
  std::atomic<std::int64_t> answered{0};  // the fixed reply came back
  std::atomic<std::int64_t> unexpected{0};
};

struct Tallies {
  KindTally kinds[static_cast<std::size_t>(Kind::count)];
  std::atomic<std::int64_t> connectFailures{0};
  std::atomic<std::int64_t> done{0};
  std::atomic<std::int64_t> floods{0};

  KindTally& of(Kind kind) { return kinds[static_cast<std::size_t>(kind)]; }
};

// Sends posts, each on a fresh connection, and tallies how the server took them. Thread-safe:
// several threads share one.
class Poster {
 public:
  Poster(LocalAddress address, Tallies& tallies);
  // Sends the post with this index.
  void post(std::int64_t index);

 private:
  LocalAddress address_;
  Tallies& tallies_;
  std::vector<std::string> valid_;
  std::vector<std::string> oversized_;
  std::vector<std::string> broken_;
};

// One post the server answers but does not count; whether the fixed reply came back.
bool probeOnce(const LocalAddress& address);
// A connection to the server with the soak's time limits, or -1.
int connectTo(const LocalAddress& address);

}  // namespace tallyloft::soak
