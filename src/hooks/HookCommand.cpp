#include "hooks/HookCommand.h"

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

}  // namespace

std::string hookCommand(std::uint16_t port) {
  // $PPID is the CLI that runs the hook's shell.
  return ": '" + std::string(kHookMarker) +
         "';input=$(cat);printf '%s' \"$input\" | /usr/bin/curl -s -m1 -H 'Expect:' -H "
         "'Content-Type: application/json' -H \"X-Tallyloft-Pid: $PPID\" -H \"X-Tallyloft-Term: " +
         terminalHeader() + "\" -X POST http://127.0.0.1:" + std::to_string(port) +
         "/event --data-binary @- >/dev/null 2>&1;exit 0";
}

}  // namespace tallyloft
