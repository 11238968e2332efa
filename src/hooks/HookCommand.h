#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tallyloft {

// The marker that identifies our entries among a CLI's hooks.
inline constexpr std::string_view kHookMarker = "tallyloft";

// The shell command each installed hook runs: it posts the hook's standard input to the app on
// 127.0.0.1:`port` with a one-second limit, discards all output and always exits 0, so a CLI
// never waits on or fails because of the app. Two headers go with it: X-Tallyloft-Pid, the
// CLI's process ($PPID of the hook's shell), and X-Tallyloft-Term, the terminal variables that
// are set (see TerminalHints). Plain POSIX sh that starts no process besides curl. Other ports
// exist only for tests.
std::string hookCommand(std::uint16_t port = 51789);

}  // namespace tallyloft
