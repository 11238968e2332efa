#include "cli/StatusCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>

#include "app/StatusServer.h"

namespace tallyloft {
namespace {

using Json = nlohmann::json;

std::string text(const Json& value, const char* fallback = "-") {
  return value.is_string() ? value.get<std::string>() : fallback;
}

std::string contextText(const Json& session) {
  const Json& tokens = session["contextTokens"];
  const Json& window = session["contextWindow"];
  if (!tokens.is_number_integer() || !window.is_number_integer()) return "context ?";
  const auto thousands = [](std::int64_t count) {
    return count >= 1000 ? std::to_string((count + 500) / 1000) + "k" : std::to_string(count);
  };
  std::string line = "context " + thousands(tokens.get<std::int64_t>()) + "/" +
                     thousands(window.get<std::int64_t>());
  if (session["contextPercent"].is_number_integer()) {
    line += " (" + std::to_string(session["contextPercent"].get<std::int64_t>()) + "%)";
  }
  return line;
}

std::string processText(const Json& process) {
  const std::string status = text(process["status"], "unknown");
  if (!process["pid"].is_number_integer()) return "process unknown";
  return "pid " + std::to_string(process["pid"].get<std::int64_t>()) + " " + status;
}

std::string stateText(const Json& agent) {
  std::string state = text(agent["state"]);
  if (agent["waitReason"].is_string()) state += " (" + agent["waitReason"].get<std::string>() + ")";
  return state;
}

}  // namespace

std::optional<std::string> statusTable(const std::string& document) {
  const Json crew = Json::parse(document, nullptr, false);
  if (!crew.is_object() || !crew.contains("sessions") || !crew["sessions"].is_array()) {
    return std::nullopt;
  }
  if (crew["sessions"].empty()) return std::string("No sessions.\n");
  std::ostringstream table;
  for (const Json& session : crew["sessions"]) {
    if (!session.is_object()) continue;
    const double since =
        session["secondsSinceEvent"].is_number() ? session["secondsSinceEvent"].get<double>() : 0;
    table << std::left << std::setw(7) << text(session["cli"], "?") << ' ' << std::setw(20)
          << text(session["project"]) << ' ' << std::setw(20) << stateText(session) << ' '
          << contextText(session) << "  " << static_cast<long long>(std::floor(since)) << " s ago  "
          << processText(session["process"]);
    if (session["leaving"].is_boolean() && session["leaving"].get<bool>()) table << "  leaving";
    table << '\n';
    if (!session["agents"].is_array()) continue;
    for (const Json& agent : session["agents"]) {
      if (!agent.is_object()) continue;
      table << "  " << std::setw(18) << text(agent["type"]) << ' ' << std::setw(20)
            << stateText(agent);
      if (agent["tool"].is_string()) table << ' ' << agent["tool"].get<std::string>();
      if (agent["target"].is_string()) table << ' ' << agent["target"].get<std::string>();
      table << '\n';
    }
  }
  return table.str();
}

std::optional<std::string> statusWaybar(const std::string& document) {
  const Json crew = Json::parse(document, nullptr, false);
  if (!crew.is_object() || !crew.contains("sessions") || !crew["sessions"].is_array()) {
    return std::nullopt;
  }
  int live = 0;
  int waiting = 0;
  bool working = false;
  std::int64_t fullest = 0;
  std::string tooltip;
  for (const Json& session : crew["sessions"]) {
    if (!session.is_object() || !session["agents"].is_array()) continue;
    const bool leaving = session["leaving"].is_boolean() && session["leaving"].get<bool>();
    if (leaving) continue;
    for (const Json& agent : session["agents"]) {
      const std::string state = text(agent["state"]);
      if (state == "done") continue;
      ++live;
      if (state == "waiting") ++waiting;
      if (state == "thinking" || state == "working") working = true;
    }
    if (session["contextPercent"].is_number_integer()) {
      fullest = std::max(fullest, session["contextPercent"].get<std::int64_t>());
    }
    if (!tooltip.empty()) tooltip += '\n';
    tooltip +=
        text(session["cli"], "?") + " " + text(session["project"]) + ": " + stateText(session);
  }
  const nlohmann::ordered_json line{
      {"text", "🤖 " + std::to_string(live) +
                   (waiting > 0 ? " ⏳ " + std::to_string(waiting) : std::string())},
      {"tooltip", tooltip.empty() ? std::string("No sessions") : tooltip},
      {"class", waiting > 0 ? "waiting"
                : working   ? "working"
                            : "idle"},
      {"percentage", fullest}};
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

int runStatus(const StatusOptions& options, std::ostream& out, std::ostream& err) {
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  bool first = true;
  bool bad = false;
  const auto print = [&](const std::string& line) {
    std::optional<std::string> shown;
    if (options.json) {
      shown = line + "\n";
    } else if (options.waybar) {
      if (auto bar = statusWaybar(line)) shown = *bar + "\n";
    } else if (auto table = statusTable(line)) {
      // Watching in a terminal, each answer replaces the last on the screen.
      if (options.watch && terminal) {
        shown = "\033[H\033[2J" + *table;
      } else {
        shown = (options.watch && !first ? "\n" : "") + *table;
      }
    }
    if (!shown) {
      err << "status: unexpected answer: " << line << '\n';
      bad = true;
      return false;
    }
    out << *shown;
    out.flush();
    first = false;
    return options.watch;
  };
  const bool answered =
      askStatusServer(StatusServer::socketPath(),
                      options.watch ? R"({"watch":"crew"})" : R"({"get":"crew"})", print);
  if (!answered || (first && !bad)) {
    err << "Tallyloft is not running. Start the app with `tallyloft`, or the headless engine "
           "with `tallyloft serve`.\n";
    return 1;
  }
  return bad ? 1 : 0;
}

}  // namespace tallyloft
