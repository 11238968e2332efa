#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hooks/JSONValue.h"

namespace tallyloft {

// A random (version 4) UUID.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  static Uuid random();
  // Upper-case, hyphenated: "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
  std::string toString() const;
  friend bool operator==(const Uuid&, const Uuid&) = default;
};

// Where a CLI's terminal is, as the hook's environment told it (the X-Tallyloft-Term header:
// "NAME=VALUE;" for each of the variables below that was set). These come from any local
// process: each value is checked against the shape its variable has, and one that does not fit
// is dropped. Nothing here is ever run.
struct TerminalHints {
  std::optional<std::string> windowId;       // WINDOWID: an X11 window, decimal
  std::optional<std::string> tmux;           // TMUX: "SOCKET,PID,SESSION"
  std::optional<std::string> tmuxPane;       // TMUX_PANE: "%N"
  std::optional<std::string> kittyWindowId;  // KITTY_WINDOW_ID: decimal
  std::optional<std::string> weztermPane;    // WEZTERM_PANE: decimal
  std::optional<std::string> termProgram;    // TERM_PROGRAM: a name such as "WezTerm"

  // The most bytes of header value that are read; a longer value is ignored whole.
  static constexpr std::size_t kMaxHeaderBytes = 1024;
  static TerminalHints parse(std::string_view header);
  bool empty() const;
  friend bool operator==(const TerminalHints&, const TerminalHints&) = default;
};

// The CLI's process id from the X-Tallyloft-Pid header: a positive decimal number no larger
// than the kernel's largest pid, or nothing.
std::optional<std::int64_t> parsePidHint(std::string_view header);

// One hook event as a CLI posts it: the fourteen keys of the hook's JSON input that the crew
// model reads. Everything else in the body is ignored.
struct HookEvent {
  Uuid id;
  std::chrono::system_clock::time_point receivedAt;
  std::string hookEventName;                   // "hook_event_name"
  std::optional<std::string> sessionId;        // "session_id"
  std::optional<std::string> transcriptPath;   // "transcript_path"
  std::optional<std::string> cwd;              // "cwd"
  std::optional<std::string> permissionMode;   // "permission_mode"
  std::optional<std::string> agentId;          // "agent_id"
  std::optional<std::string> agentType;        // "agent_type"
  std::optional<std::string> toolName;         // "tool_name"
  std::optional<JSONValue::Object> toolInput;  // "tool_input"
  std::optional<std::string> prompt;           // "prompt"
  std::optional<std::string> source;           // "source"
  std::optional<std::string> model;            // "model"
  std::optional<std::string> message;          // "message"
  std::optional<std::string> trigger;          // "trigger"
  // "tool_response"."returnDisplay" when it is a string (how Gemini CLI reports a tool's end);
  // any other shape of "tool_response" is ignored and never rejects the record.
  std::optional<std::string> toolResponseDisplay;

  // Hints from the request's headers, not from the body: the CLI's process and terminal.
  std::optional<std::int64_t> pid;
  TerminalHints terminal;

  // Decodes one JSON document. The top level must be an object with a string
  // "hook_event_name"; each of the other keys may be absent or null, and otherwise must have
  // exactly its type (no coercion), or the whole record is rejected. Unknown keys are ignored.
  // The record gets a new random `id` and `receivedAt = now`. Thread-safe.
  static std::optional<HookEvent> decode(
      std::string_view json,
      std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

  // What the tool acts on: the first non-empty string among "file_path", "path", "pattern",
  // "command", "query", "url", "description" and "prompt" of `toolInput`, cut to 56
  // user-perceived characters plus "…" when longer.
  std::optional<std::string> target() const;
};

}  // namespace tallyloft
