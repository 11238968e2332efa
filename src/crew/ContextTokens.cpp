#include "crew/ContextTokens.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "base/Text.h"
#include "hooks/JsonReader.h"

namespace tallyloft {
namespace {}  // namespace

std::optional<std::pair<std::string, bool>> readTranscriptTail(const std::string& path,
                                                               std::int64_t maxBytes) {
  // Non-blocking open: a FIFO must not wait for a writer. Only regular files are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  const std::int64_t size = info.st_size;
  const std::int64_t offset = size >= maxBytes ? size - maxBytes : 0;
  std::string tail(static_cast<std::size_t>(std::min(size, maxBytes)), '\0');
  std::size_t filled = 0;
  while (filled < tail.size()) {
    const ssize_t count = ::pread(fd, tail.data() + filled, tail.size() - filled,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(filled)));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;  // the file shrank, or an error: use what arrived
    filled += static_cast<std::size_t>(count);
  }
  ::close(fd);
  tail.resize(filled);
  if (tail.empty()) return std::nullopt;
  return std::make_pair(std::move(tail), size > maxBytes);
}

namespace {

// count(key): an integer as is, a float truncated, anything else 0; nothing when out of range.
std::optional<std::int64_t> count(const JSONValue::Object& usage, std::string_view key) {
  const auto it = usage.find(key);
  if (it == usage.end()) return 0;
  const double* value = it->second.asNumber();
  if (value == nullptr) return 0;
  const double truncated = std::trunc(*value);
  if (!(truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0)) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(truncated);
}

const JSONValue* member(const JSONValue::Object& object, std::string_view key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &it->second;
}

const JSONValue::Object* objectAt(const JSONValue::Object& object, std::string_view key) {
  const JSONValue* value = member(object, key);
  return value == nullptr ? nullptr : value->asObject();
}

bool stringAt(const JSONValue::Object& object, std::string_view key, std::string_view expected) {
  const JSONValue* value = member(object, key);
  const std::string* text = value == nullptr ? nullptr : value->asString();
  return text != nullptr && *text == expected;
}

// Claude Code keeps usage under "message" (or, in some records, at the top level).
std::optional<ContextReading> claudeReading(const JSONValue::Object& usage) {
  std::int64_t total = 0;
  for (std::string_view key :
       {"input_tokens", "cache_read_input_tokens", "cache_creation_input_tokens"}) {
    const auto value = count(usage, key);
    if (!value || __builtin_add_overflow(total, *value, &total)) return std::nullopt;
  }
  return ContextReading{total, std::nullopt, std::nullopt};
}

// A Codex rollout line: {"type":"event_msg","payload":{"type":"token_count","info":{
// "last_token_usage":{…},"model_context_window":W}}} or {"type":"token_usage_record",
// "payload":{"usage":{…}}}. Its input tokens already hold the cached ones.
std::optional<ContextReading> codexReading(const JSONValue::Object& record) {
  const JSONValue::Object* payload = objectAt(record, "payload");
  if (payload == nullptr) return std::nullopt;
  const JSONValue::Object* usage = nullptr;
  const JSONValue::Object* info = nullptr;
  if (stringAt(record, "type", "event_msg") && stringAt(*payload, "type", "token_count")) {
    info = objectAt(*payload, "info");
    if (info != nullptr) usage = objectAt(*info, "last_token_usage");
  } else if (stringAt(record, "type", "token_usage_record")) {
    usage = objectAt(*payload, "usage");
  }
  if (usage == nullptr) return std::nullopt;
  const auto tokens = count(*usage, "input_tokens");
  if (!tokens) return std::nullopt;
  ContextReading reading{*tokens, std::nullopt, std::nullopt};
  if (info != nullptr) {
    if (const auto window = count(*info, "model_context_window"); window && *window > 0) {
      reading.window = *window;
    }
  }
  return reading;
}

// A Gemini chat line: {"type":"gemini","tokens":{"input":N,"cached":C,…},"model":"gemini-…"}.
std::optional<ContextReading> geminiReading(const JSONValue::Object& record) {
  if (!stringAt(record, "type", "gemini")) return std::nullopt;
  const JSONValue::Object* tokens = objectAt(record, "tokens");
  if (tokens == nullptr) return std::nullopt;
  const auto input = count(*tokens, "input");
  if (!input) return std::nullopt;
  ContextReading reading{*input, std::nullopt, std::nullopt};
  if (const JSONValue* model = member(record, "model"); model && model->asString()) {
    reading.model = *model->asString();
  }
  return reading;
}

// Cheap test before parsing: a line without any of the keys that hold usage is no record.
bool mayHoldUsage(std::string_view line) {
  return line.find("\"usage\"") != std::string_view::npos ||
         line.find("\"last_token_usage\"") != std::string_view::npos ||
         line.find("\"tokens\"") != std::string_view::npos;
}

// The reading of one transcript line, or nothing when it does not qualify.
std::optional<ContextReading> lineReading(std::string_view line) {
  if (!mayHoldUsage(line)) return std::nullopt;
  std::optional<JSONValue> parsed =
      isValidUtf8(line) ? parseJson(line) : parseJson(replaceInvalidUtf8(line));
  if (!parsed || !parsed->asObject()) return std::nullopt;
  const JSONValue::Object& record = *parsed->asObject();
  if (const JSONValue* sidechain = member(record, "isSidechain")) {
    if (const bool* flag = sidechain->asBool(); flag != nullptr && *flag) return std::nullopt;
  }
  const JSONValue::Object* usage = nullptr;
  if (const JSONValue::Object* message = objectAt(record, "message")) {
    usage = objectAt(*message, "usage");
  }
  if (usage == nullptr) usage = objectAt(record, "usage");
  std::optional<ContextReading> reading;
  if (usage != nullptr) {
    reading = claudeReading(*usage);
  } else if (member(record, "payload") != nullptr) {
    reading = codexReading(record);
  } else {
    reading = geminiReading(record);
  }
  if (!reading || reading->tokens < 1) return std::nullopt;
  return reading;
}

}  // namespace

std::optional<ContextReading> readContextTail(std::string_view text, bool cut) {
  // The cut may fall inside the first line of a longer file: that line is not used.
  const std::size_t firstLine = text.find_first_not_of('\n');
  const std::size_t skipFrom = cut ? firstLine : std::string_view::npos;
  // Newest lines first: the latest usage record usually ends the scan at once.
  std::size_t end = text.size();
  while (end > 0) {
    const std::size_t newline = text.rfind('\n', end - 1);
    const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
    if (start < end && start != skipFrom) {
      if (auto reading = lineReading(text.substr(start, end - start))) return reading;
    }
    if (newline == std::string_view::npos) break;
    end = newline;
  }
  return std::nullopt;
}

std::optional<ContextReading> readContext(const std::optional<std::string>& transcriptPath) {
  if (!transcriptPath || transcriptPath->empty()) return std::nullopt;
  auto tail = readTranscriptTail(*transcriptPath, kTranscriptTailBytes);
  if (!tail) return std::nullopt;
  return readContextTail(tail->first, tail->second);
}

std::optional<std::int64_t> contextTokens(const std::optional<std::string>& transcriptPath) {
  if (auto reading = readContext(transcriptPath)) return reading->tokens;
  return std::nullopt;
}

std::int64_t contextBracket(std::int64_t tokens) {
  if (tokens <= 200'000) return 200'000;
  if (tokens <= 400'000) return 400'000;
  if (tokens <= 1'000'000) return 1'000'000;
  return 2'000'000;
}

}  // namespace tallyloft
