#include "cli/DemoCommand.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "base/Loopback.h"
#include "base/RuntimeFolder.h"
#include "cli/Recording.h"
#include "hooks/HookSecret.h"

namespace tallyloft {
namespace {

enum class Posted { ok, refused, unauthorized, failed };

// One POST of `body` to the app's /event, the reply read to its end. `secretLine` is the secret
// header with its line end, for the TCP port.
Posted post(const LocalAddress& address, const std::string& secretLine, const std::string& body) {
  const std::string request =
      "POST /event HTTP/1.1\r\nHost: localhost\r\n" + secretLine +
      "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nConnection: close\r\n\r\n" + body;
  const Exchange exchange = exchangeLocal(address, request, std::chrono::seconds(2));
  if (!exchange.connected) {
    return errno == ECONNREFUSED || errno == ENOENT ? Posted::refused : Posted::failed;
  }
  if (exchange.reply.bytes.rfind("HTTP/1.1 401", 0) == 0) return Posted::unauthorized;
  return exchange.reply.bytes.rfind("HTTP/1.1 200", 0) == 0 ? Posted::ok : Posted::failed;
}

// The body with its session id made distinct for loop round `round` (the first keeps it).
std::string forRound(const std::string& body, int round) {
  if (round == 0) return body;
  nlohmann::json event = nlohmann::json::parse(body, nullptr, false);
  if (!event.is_object() || !event.contains("session_id") || !event["session_id"].is_string())
    return body;
  event["session_id"] = event["session_id"].get<std::string>() + "-" + std::to_string(round + 1);
  return event.dump();
}

}  // namespace

int runDemo(const DemoOptions& options) {
  if (!(options.speed > 0) || !std::isfinite(options.speed) || options.speed > 1000) {
    std::fprintf(stderr, "demo: --speed must be above 0 and at most 1000\n");
    return 2;
  }
  std::optional<std::vector<RecordedEvent>> events;
  if (options.file.empty()) {
    std::istringstream builtIn(builtInDemo());
    events = readRecording(builtIn, std::cerr);
  } else {
    events = readRecordingFile(options.file, std::cerr);
  }
  if (!events) return 2;
  if (events->empty()) {
    std::fprintf(stderr, "demo: the recording holds no events\n");
    return 2;
  }
  const LocalAddress address =
      options.port ? LocalAddress::tcp(*options.port) : LocalAddress::unixSocket(hookSocketPath());
  std::string secretLine;
  if (options.port) {
    try {
      secretLine = HookSecret::headerLine(HookSecret::load());
      secretLine.insert(secretLine.size() - 1, "\r");
    } catch (const std::exception& error) {
      std::fprintf(stderr, "demo: %s\n", error.what());
      return 1;
    }
  }
  const auto send = [&](const std::string& body) { return post(address, secretLine, body); };
  // A first post that the app counts as nothing tells whether anyone listens, and takes us.
  const Posted first = send("{}");
  if (first == Posted::unauthorized) {
    std::fprintf(stderr, "demo: %s refused the secret of %s\n", address.describe().c_str(),
                 HookSecret::path().c_str());
    return 1;
  }
  if (first == Posted::refused) {
    std::fprintf(stderr,
                 "demo: nothing listens on %s; start Tallyloft first (tallyloft, or "
                 "./dev run)\n",
                 address.describe().c_str());
    return 1;
  }
  const bool live = ::isatty(STDERR_FILENO) != 0;
  const double length = events->back().t / options.speed;
  int failed = 0;
  for (int round = 0; round == 0 || options.loop; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < events->size(); ++i) {
      const RecordedEvent& event = (*events)[i];
      const double at = event.t / options.speed;
      std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
      const Posted result = send(forRound(event.body, round));
      if (result == Posted::refused) {
        std::fprintf(stderr, "%sdemo: Tallyloft stopped listening on %s\n", live ? "\n" : "",
                     address.describe().c_str());
        return 1;
      }
      failed += result == Posted::failed ? 1 : 0;
      const bool last = i + 1 == events->size();
      if (live || last || i % 20 == 0) {
        std::fprintf(
            stderr, "%sdemo%s: %5.1f s of %.1f s · %zu of %zu events%s%s", live ? "\r" : "",
            options.loop ? (" round " + std::to_string(round + 1)).c_str() : "", at, length, i + 1,
            events->size(), failed > 0 ? (" · " + std::to_string(failed) + " failed").c_str() : "",
            live && !last ? "" : "\n");
      }
    }
  }
  return 0;
}

}  // namespace tallyloft
