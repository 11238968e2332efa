#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyloft {

// One file of Claude Code's ~/.claude/sessions/: the CLI writes PID.json while it runs, turns
// its "status" from "busy" to "idle" when a turn ends (also when the user interrupts it, which
// no hook reports), and deletes it on a normal exit. A process killed outright leaves it.
struct ClaudeSessionFile {
  std::int64_t pid = 0;
  std::string sessionId;
  std::optional<std::string> cwd;
  std::optional<std::uint64_t> procStart;  // field 22 of /proc/PID/stat, as the CLI read it
  std::string status;                      // "busy", "idle", …
  // When the status last changed ("statusUpdatedAt", milliseconds since 1970).
  std::optional<std::chrono::system_clock::time_point> statusUpdatedAt;

  // Reads a file's text; nothing unless it is a JSON object with a positive integer "pid" and
  // string "sessionId" and "status". "procStart" may be a decimal string or a number.
  static std::optional<ClaudeSessionFile> parse(std::string_view json);
  friend bool operator==(const ClaudeSessionFile&, const ClaudeSessionFile&) = default;
};

}  // namespace tallyloft
