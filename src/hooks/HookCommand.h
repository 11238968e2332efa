#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tallyloft {

// The marker that identifies our entries among a CLI's hooks.
inline constexpr std::string_view kHookMarker = "tallyloft";

// Where a hook posts: the app's Unix socket, or else a TCP port on 127.0.0.1 (for agents in
// containers and VMs) with the secret header read from a file.
struct HookTarget {
  std::filesystem::path socket{};
  std::uint16_t port = 0;
  // With the port: the file holding the "X-Tallyloft-Secret: …" line (see HookSecret). Without
  // one, the command is what versions before the socket wrote (kept for measurements only).
  std::filesystem::path secretFile{};

  friend bool operator==(const HookTarget&, const HookTarget&) = default;
};

// The shell command each installed hook runs: it posts the hook's standard input to the app with
// a one-second limit, discards all output and always exits 0, so a CLI never waits on or fails
// because of the app. Two headers go with it: X-Tallyloft-Pid, the CLI's process ($PPID of the
// hook's shell), and X-Tallyloft-Term, the terminal variables that are set (see TerminalHints).
// Plain POSIX sh that starts no process besides curl. Paths are written into it at install time
// (the CLIs do not all pass XDG_RUNTIME_DIR on to hooks); it never holds a secret.
std::string hookCommand(const HookTarget& target);

// The target of a command exactly as hookCommand() writes it for a socket, or for a port with a
// secret file; nothing for any other command (one an older version wrote, or one edited by hand).
std::optional<HookTarget> hookTargetOf(std::string_view command);

// `text` as one single-quoted shell word.
std::string shellQuoted(std::string_view text);

}  // namespace tallyloft
