#include "hooks/HookCommand.h"

#include <charconv>

namespace tallyloft {

namespace {

// The terminal variables the hook passes on, each as "NAME=VALUE;" when set. Parameter
// expansion only: the hook starts no process besides curl.
std::string terminalHeader() {
  std::string value;
  for (const char* name :
       {"WINDOWID", "TMUX", "TMUX_PANE", "KITTY_WINDOW_ID", "WEZTERM_PANE", "TERM_PROGRAM"}) {
    value += std::string("${") + name + ":+" + name + "=$" + name + ";}";
  }
  return value;
}

// Stands for a quoted path while the command's fixed parts are worked out.
constexpr std::string_view kHole = "\x01";

// Reads the single-quoted shell word at the start of `text` (as shellQuoted writes it) and
// removes it from `text`; nothing when it is not one.
std::optional<std::string> takeQuoted(std::string_view& text) {
  std::string word;
  if (text.empty() || text.front() != '\'') return std::nullopt;
  for (;;) {
    const std::size_t close = text.find('\'', 1);
    if (close == std::string_view::npos) return std::nullopt;
    word.append(text.substr(1, close - 1));
    text.remove_prefix(close + 1);
    if (text.substr(0, 3) != "\\''") return word;
    word += '\'';
    text.remove_prefix(2);
  }
}

bool takeLiteral(std::string_view& text, std::string_view literal) {
  if (text.substr(0, literal.size()) != literal) return false;
  text.remove_prefix(literal.size());
  return true;
}

}  // namespace

std::string shellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string hookCommand(const HookTarget& target) {
  // Over the socket the host name is only what curl puts in the Host header.
  std::string transport;
  std::string url;
  if (!target.socket.empty()) {
    transport = "--unix-socket " + shellQuoted(target.socket.native()) + " ";
    url = "http://localhost/event";
  } else {
    if (!target.secretFile.empty())
      transport = "-H @" + shellQuoted(target.secretFile.native()) + " ";
    url = "http://127.0.0.1:" + std::to_string(target.port) + "/event";
  }
  // $PPID is the CLI that runs the hook's shell.
  return ": '" + std::string(kHookMarker) +
         "';input=$(cat);printf '%s' \"$input\" | /usr/bin/curl -s -m1 " + transport +
         "-H 'Expect:' -H 'Content-Type: application/json' -H \"X-Tallyloft-Pid: $PPID\" -H "
         "\"X-Tallyloft-Term: " +
         terminalHeader() + "\" -X POST " + url + " --data-binary @- >/dev/null 2>&1;exit 0";
}

std::optional<HookTarget> hookTargetOf(std::string_view command) {
  const std::string hole = shellQuoted(kHole);
  // A socket's command: its fixed text on both sides of the quoted path.
  {
    const std::string form = hookCommand({.socket = std::string(kHole)});
    const std::size_t at = form.find(hole);
    std::string_view rest = command;
    if (takeLiteral(rest, std::string_view(form).substr(0, at))) {
      const auto path = takeQuoted(rest);
      if (path && !path->empty() && path->front() == '/' &&
          rest == std::string_view(form).substr(at + hole.size())) {
        return HookTarget{.socket = *path};
      }
      return std::nullopt;
    }
  }
  // A port's command: the quoted secret file, then the port in the URL.
  const std::string form = hookCommand({.port = 1, .secretFile = std::string(kHole)});
  const std::string_view url = "http://127.0.0.1:";
  const std::size_t at = form.find(hole);
  const std::size_t urlAt = form.find(url);
  std::string_view rest = command;
  if (!takeLiteral(rest, std::string_view(form).substr(0, at))) return std::nullopt;
  const auto file = takeQuoted(rest);
  if (!file || file->empty()) return std::nullopt;
  if (!takeLiteral(rest, std::string_view(form).substr(at + hole.size(),
                                                       urlAt + url.size() - at - hole.size()))) {
    return std::nullopt;
  }
  unsigned port = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
  if (error != std::errc{} || port == 0 || port > 65535) return std::nullopt;
  rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
  if (rest != std::string_view(form).substr(urlAt + url.size() + 1)) return std::nullopt;
  return HookTarget{.port = static_cast<std::uint16_t>(port), .secretFile = *file};
}

}  // namespace tallyloft
