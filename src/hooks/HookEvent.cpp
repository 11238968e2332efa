#include "hooks/HookEvent.h"

#include <random>

#include "base/Text.h"
#include "hooks/JsonReader.h"

namespace tallyloft {
namespace {

// The fourteen keys, in decoding order.
constexpr std::array<std::string_view, 14> kKeys = {
    "hook_event_name", "session_id", "transcript_path", "cwd",        "permission_mode",
    "agent_id",        "agent_type", "tool_name",       "tool_input", "prompt",
    "source",          "model",      "message",         "trigger"};
constexpr int kToolInput = 8;

int keyIndex(std::string_view key) {
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    if (kKeys[i] == key) return static_cast<int>(i);
  }
  return -1;
}

bool allOf(std::string_view text, bool (*accept)(char)) {
  for (char c : text) {
    if (!accept(c)) return false;
  }
  return true;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isDecimal(std::string_view text) {
  return !text.empty() && text.size() <= 20 && allOf(text, isDigit);
}

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '.' || c == '_' ||
         c == '-' || c == ' ' || c == '+';
}

bool isPathChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '.' || c == '_' ||
         c == '-' || c == '/';
}

// "SOCKET,PID,SESSION" with an absolute socket path.
bool isTmuxValue(std::string_view text) {
  if (text.size() > 512 || text.empty() || text.front() != '/') return false;
  const std::size_t second = text.rfind(',');
  if (second == std::string_view::npos || second == 0) return false;
  const std::size_t first = text.rfind(',', second - 1);
  if (first == std::string_view::npos) return false;
  return allOf(text.substr(0, first), isPathChar) &&
         isDecimal(text.substr(first + 1, second - first - 1)) &&
         isDecimal(text.substr(second + 1));
}

}  // namespace

TerminalHints TerminalHints::parse(std::string_view header) {
  TerminalHints hints;
  if (header.size() > kMaxHeaderBytes) return hints;
  while (!header.empty()) {
    const std::size_t end = header.find(';');
    const std::string_view item = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = item.substr(0, equals);
    const std::string_view value = item.substr(equals + 1);
    // X11 window ids are 32 bits: at most 10 digits, and checked again where they are used.
    if (name == "WINDOWID" && isDecimal(value) && value.size() <= 10 && value != "0") {
      hints.windowId = std::string(value);
    } else if (name == "TMUX" && isTmuxValue(value)) {
      hints.tmux = std::string(value);
    } else if (name == "TMUX_PANE" && value.size() > 1 && value.front() == '%' &&
               isDecimal(value.substr(1))) {
      hints.tmuxPane = std::string(value);
    } else if (name == "KITTY_WINDOW_ID" && isDecimal(value)) {
      hints.kittyWindowId = std::string(value);
    } else if (name == "WEZTERM_PANE" && isDecimal(value)) {
      hints.weztermPane = std::string(value);
    } else if (name == "TERM_PROGRAM" && !value.empty() && value.size() <= 64 &&
               allOf(value, isNameChar)) {
      hints.termProgram = std::string(value);
    }
  }
  return hints;
}

bool TerminalHints::empty() const {
  return *this == TerminalHints{};
}

std::optional<std::int64_t> parsePidHint(std::string_view header) {
  // The kernel's pids stay below 2^22 (PID_MAX_LIMIT).
  if (header.empty() || header.size() > 7 || !allOf(header, isDigit)) return std::nullopt;
  std::int64_t pid = 0;
  for (char c : header) pid = pid * 10 + (c - '0');
  if (pid <= 0 || pid > (std::int64_t{1} << 22)) return std::nullopt;
  return pid;
}

Uuid Uuid::random() {
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  Uuid uuid;
  for (int half = 0; half < 2; ++half) {
    std::uint64_t bits = engine();
    for (int i = 0; i < 8; ++i)
      uuid.bytes[half * 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);
  uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
  return uuid;
}

std::string Uuid::toString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

std::optional<HookEvent> HookEvent::decode(std::string_view json,
                                           std::chrono::system_clock::time_point now) {
  // Read straight into the record's slots: unknown members are checked but never built.
  std::array<std::optional<std::string>, kKeys.size()> fields;
  std::array<bool, kKeys.size()> mistyped{};
  std::optional<JSONValue::Object> toolInput;
  std::optional<std::string> toolResponseDisplay;
  JsonReader reader(json);
  if (reader.peek() != '{') return std::nullopt;
  const bool read = reader.readObject([&](const std::string& key) {
    if (key == "tool_response") {
      toolResponseDisplay.reset();
      if (reader.peek() != '{') return reader.readValue(nullptr, 1);
      return reader.readObject(
          [&](const std::string& name) {
            if (name == "returnDisplay" && reader.peek() == '"') {
              return reader.readString(&toolResponseDisplay.emplace());
            }
            return reader.readValue(nullptr, 2);
          },
          1);
    }
    const int index = keyIndex(key);
    if (index < 0) return reader.readValue(nullptr, 1);
    const auto slot = static_cast<std::size_t>(index);
    // A later duplicate replaces an earlier value, whatever its type was.
    fields[slot].reset();
    mistyped[slot] = false;
    if (index == kToolInput) toolInput.reset();
    const char next = reader.peek();
    if (next == 'n') return reader.readValue(nullptr, 1);  // null: absent
    if (index == kToolInput && next == '{') {
      JSONValue::Object object;
      if (!reader.readObject(
              [&](const std::string& name) {
                JSONValue member;
                if (!reader.readValue(&member, 2)) return false;
                object.insert_or_assign(name, std::move(member));
                return true;
              },
              1)) {
        return false;
      }
      toolInput = std::move(object);
      return true;
    }
    if (index != kToolInput && next == '"') return reader.readString(&fields[slot].emplace());
    mistyped[slot] = true;
    return reader.readValue(nullptr, 1);
  });
  if (!read || !reader.atEnd() || !fields[0]) return std::nullopt;
  for (bool bad : mistyped) {
    if (bad) return std::nullopt;
  }
  HookEvent event;
  event.id = Uuid::random();
  event.receivedAt = now;
  event.hookEventName = std::move(*fields[0]);
  std::optional<std::string>* slots[] = {
      nullptr,        &event.sessionId, &event.transcriptPath, &event.cwd,    &event.permissionMode,
      &event.agentId, &event.agentType, &event.toolName,       nullptr,       &event.prompt,
      &event.source,  &event.model,     &event.message,        &event.trigger};
  for (std::size_t i = 1; i < kKeys.size(); ++i) {
    if (slots[i] != nullptr) *slots[i] = std::move(fields[i]);
  }
  event.toolInput = std::move(toolInput);
  event.toolResponseDisplay = std::move(toolResponseDisplay);
  return event;
}

std::optional<std::string> HookEvent::target() const {
  if (!toolInput) return std::nullopt;
  static constexpr std::string_view kTargetKeys[] = {"file_path", "path", "pattern",     "command",
                                                     "query",     "url",  "description", "prompt"};
  for (std::string_view key : kTargetKeys) {
    auto it = toolInput->find(key);
    if (it == toolInput->end()) continue;
    const std::string* text = it->second.asString();
    if (text != nullptr && !text->empty()) return truncateGraphemes(*text, 56);
  }
  return std::nullopt;
}

}  // namespace tallyloft
