#include "cli/StatusCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <vector>

#include "app/StatusServer.h"
#include "base/RuntimeFolder.h"

namespace tallyloft {
namespace {

using Json = nlohmann::json;

// A member of an object, or null: answers from another version, or broken ones, never crash.
const Json& member(const Json& object, const char* key) {
  static const Json kNull;
  if (!object.is_object()) return kNull;
  const auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}

// The text with control characters (terminal escapes from a hook's input) left out.
std::string printable(std::string text) {
  std::erase_if(text, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  return text;
}

std::string text(const Json& value, const char* fallback = "-") {
  return value.is_string() ? printable(value.get<std::string>()) : fallback;
}

// Pango markup, as waybar reads its text and tooltip.
std::string markupEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '&') {
      escaped += "&amp;";
    } else if (c == '<') {
      escaped += "&lt;";
    } else if (c == '>') {
      escaped += "&gt;";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string contextText(const Json& session) {
  const Json& tokens = member(session, "contextTokens");
  const Json& window = member(session, "contextWindow");
  if (!tokens.is_number_integer() || !window.is_number_integer()) return "context ?";
  const auto thousands = [](std::int64_t count) {
    return count >= 1000 ? std::to_string((count + 500) / 1000) + "k" : std::to_string(count);
  };
  std::string line = "context " + thousands(tokens.get<std::int64_t>()) + "/" +
                     thousands(window.get<std::int64_t>());
  if (member(session, "contextPercent").is_number_integer()) {
    line += " (" + std::to_string(member(session, "contextPercent").get<std::int64_t>()) + "%)";
  }
  return line;
}

std::string processText(const Json& process) {
  const std::string status = text(member(process, "status"), "unknown");
  if (!member(process, "pid").is_number_integer()) return "process unknown";
  return "pid " + std::to_string(member(process, "pid").get<std::int64_t>()) + " " + status;
}

std::string stateText(const Json& agent) {
  std::string state = text(member(agent, "state"));
  if (member(agent, "waitReason").is_string())
    state += " (" + member(agent, "waitReason").get<std::string>() + ")";
  return state;
}

// `text` in a column `width` characters wide: padded with spaces, or cut with "…" so that the
// columns after it stay in place. Characters are counted as UTF-8 code points.
std::string column(const std::string& text, std::size_t width) {
  std::vector<std::size_t> starts;  // where each code point begins
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  if (starts.size() <= width) return text + std::string(width - starts.size(), ' ');
  return text.substr(0, starts[width - 1]) + "\u2026";
}

}  // namespace

std::optional<std::string> statusTable(const std::string& document) {
  const Json crew = Json::parse(document, nullptr, false);
  if (!crew.is_object() || !crew.contains("sessions") || !member(crew, "sessions").is_array()) {
    return std::nullopt;
  }
  if (member(crew, "sessions").empty()) return std::string("No sessions.\n");
  std::ostringstream table;
  for (const Json& session : member(crew, "sessions")) {
    if (!session.is_object()) continue;
    const double since = member(session, "secondsSinceEvent").is_number()
                             ? member(session, "secondsSinceEvent").get<double>()
                             : 0;
    table << column(text(member(session, "cli"), "?"), 7) << ' '
          << column(text(member(session, "project")), 20) << ' ' << column(stateText(session), 20)
          << ' ' << contextText(session) << "  " << static_cast<long long>(std::floor(since))
          << " s ago  " << processText(member(session, "process"));
    if (member(session, "leaving").is_boolean() && member(session, "leaving").get<bool>())
      table << "  leaving";
    table << '\n';
    if (!member(session, "agents").is_array()) continue;
    for (const Json& agent : member(session, "agents")) {
      if (!agent.is_object()) continue;
      table << "  " << column(text(member(agent, "type")), 18) << ' '
            << column(stateText(agent), 20);
      if (member(agent, "tool").is_string())
        table << ' ' << member(agent, "tool").get<std::string>();
      if (member(agent, "target").is_string())
        table << ' ' << member(agent, "target").get<std::string>();
      table << '\n';
    }
  }
  return table.str();
}

std::optional<std::string> statusWaybar(const std::string& document) {
  const Json crew = Json::parse(document, nullptr, false);
  if (!crew.is_object() || !crew.contains("sessions") || !member(crew, "sessions").is_array()) {
    return std::nullopt;
  }
  int live = 0;
  int waiting = 0;
  bool working = false;
  std::int64_t fullest = 0;
  std::string tooltip;
  for (const Json& session : member(crew, "sessions")) {
    if (!session.is_object() || !member(session, "agents").is_array()) continue;
    const bool leaving =
        member(session, "leaving").is_boolean() && member(session, "leaving").get<bool>();
    if (leaving) continue;
    for (const Json& agent : member(session, "agents")) {
      const std::string state = text(member(agent, "state"));
      if (state == "done") continue;
      ++live;
      if (state == "waiting") ++waiting;
      if (state == "thinking" || state == "working") working = true;
    }
    if (member(session, "contextPercent").is_number_integer()) {
      fullest = std::max(fullest, member(session, "contextPercent").get<std::int64_t>());
    }
    if (!tooltip.empty()) tooltip += '\n';
    tooltip += markupEscaped(text(member(session, "cli"), "?") + " " +
                             text(member(session, "project")) + ": " + stateText(session));
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
  const bool answered = askStatusServer(
      statusSocketPath(), options.watch ? R"({"watch":"crew"})" : R"({"get":"crew"})", print);
  if (!answered || (first && !bad)) {
    err << "Tallyloft is not running. Start the app with `tallyloft`, or the headless engine "
           "with `tallyloft serve`.\n";
    return 1;
  }
  return bad ? 1 : 0;
}

}  // namespace tallyloft
