#include "cli/StatusCommand.h"

#include <unistd.h>

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

int runStatus(const StatusOptions& options, std::ostream& out, std::ostream& err) {
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  bool first = true;
  bool bad = false;
  const bool answered = askStatusServer(StatusServer::socketPath(),
                                        options.watch ? R"({"watch":"crew"})" : R"({"get":"crew"})",
                                        [&](const std::string& line) {
                                          if (options.json) {
                                            out << line << '\n';
                                          } else if (const auto table = statusTable(line)) {
                                            // Watching in a terminal: each answer replaces the last
                                            // on the screen.
                                            if (options.watch && terminal) out << "\033[H\033[2J";
                                            if (options.watch && !terminal && !first) out << '\n';
                                            out << *table;
                                          } else {
                                            err << "status: unexpected answer: " << line << '\n';
                                            bad = true;
                                            return false;
                                          }
                                          out.flush();
                                          first = false;
                                          return options.watch;
                                        });
  if (!answered || first) {
    err << "Tallyloft is not running. Start the app with `tallyloft`, or the headless engine "
           "with `tallyloft serve`.\n";
    return 1;
  }
  return bad ? 1 : 0;
}

}  // namespace tallyloft
